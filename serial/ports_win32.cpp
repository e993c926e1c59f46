// The ports of a Windows machine. SERIALCOMM holds the port names every serial driver
// registers, but no device names; the device information (SetupAPI) holds the names the
// engineer knows the adapters by. Some virtual-port drivers write only one of the two.
#include "serial/ports_win32.h"

#include <setupapi.h>

#include "framework/text.h"
#include "serial/port_list.h"

namespace {

// The Ports device class, {4D36E978-E325-11CE-BFC1-08002BE10318}: COM and LPT ports alike.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// Only COMn: the Ports class holds printer ports too, and the workers read a number after the
// first three letters, which would make LPT1 into COM1.
bool IsComPort(const std::wstring& name) {
    if (name.size() < 4 || _wcsnicmp(name.c_str(), L"COM", 3) != 0) return false;
    for (size_t i = 3; i < name.size(); ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    return true;
}

std::wstring PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE) return std::wstring();
    wchar_t name[64] = {};
    DWORD size = sizeof(name) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG r =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && type == REG_SZ ? std::wstring(name) : std::wstring();
}

std::wstring FriendlyNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t name[256] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, &type,
                                           reinterpret_cast<BYTE*>(name),
                                           sizeof(name) - sizeof(wchar_t), nullptr) ||
        type != REG_SZ) {
        return std::wstring();
    }
    return name;
}

}  // namespace

std::vector<std::string> ReadRegistryPorts(HKEY root, const char* subkey) {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return ports;
    for (DWORD index = 0;; ++index) {
        // Every call overwrites the sizes and the type: all are reset before each.
        wchar_t name[260] = {};
        wchar_t data[260] = {};
        DWORD nameSize = 260;
        DWORD dataSize = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, name, &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;  // too large, or not text
        if (data[0]) ports.push_back(Narrow1251(data));
    }
    RegCloseKey(key);
    return ports;
}

std::vector<PortDevice> SystemPortDevices() {
    std::vector<PortDevice> devices;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        // A device unplugged while it is asked has no port name any more: left out.
        const std::wstring port = PortNameOf(set, device);
        if (!IsComPort(port)) continue;
        devices.push_back({Narrow1251(port), Narrow1251(FriendlyNameOf(set, device))});
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

std::vector<std::string> ListSystemPorts() {
    return MergePortList(ReadRegistryPorts(), SystemPortDevices());
}
