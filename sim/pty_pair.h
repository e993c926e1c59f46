// A pseudo-terminal pair whose device end is published under a stable path (a symlink), so
// that Wine can map a COM port to it and a test can open it by name.
#pragma once

#include <string>

class PtyPair {
  public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Creates the pair and, when `link` is not empty, the symlink to its device end.
    bool Create(const std::string& link);
    int MasterFd() const { return m_master; }
    // The far end goes away, as an adapter pulled out: the device end hangs up.
    void CloseMaster();
    const std::string& DevicePath() const { return m_device; }
    const std::string& LinkPath() const { return m_link; }

  private:
    int m_master = -1;
    int m_keepOpen = -1;
    std::string m_device;
    std::string m_link;
};
