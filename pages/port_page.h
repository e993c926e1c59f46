// The port page: the serial ports Windows lists, each with its adapter's name, kept up to date
// while the page is shown; the chosen one is read by every worker at the moment it opens the
// port.
#pragma once

#include <string>
#include <vector>

#include "app/tulm_page.h"
#include "serial/port_list.h"
#include "serial/ports_win32.h"

class CSecond : public CNewTulmPage {
  public:
    using DeviceSource = std::vector<PortDevice> (*)();

    CSecond();
    void OnPageShown() override;

    // Fills the list anew from the REG_SZ values under `root`\`subkey` (the SERIALCOMM key),
    // merged with the device source's names; later refreshes read the same key.
    void FillPortList(HKEY root = HKEY_LOCAL_MACHINE, const char* subkey = kSerialCommKey);
    // WM_DEVICECHANGE while the page is shown: a port arrived or left, or devices changed.
    void OnDeviceChange(WPARAM event, LPARAM data);
    // The current selection's text, "" when nothing is selected; any thread (window messages).
    std::string GetSelectedPort() const;

    HWND m_PortList = nullptr;
    // Where the adapters' names come from; a test puts a fake here.
    DeviceSource m_DeviceSource = &SystemPortDevices;

  protected:
    BOOL OnInitDialog() override;

  private:
    std::vector<std::string> Entries() const;
    // Reads the sources again; selects what PortToSelect says.
    void RefreshPortList();
    // The dropped list is as wide as its longest entry: the names do not fit the closed box.
    void FitDroppedWidth();

    HKEY m_RegistryRoot = HKEY_LOCAL_MACHINE;
    std::string m_RegistryKey = kSerialCommKey;
};
