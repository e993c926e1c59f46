#include "sim/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

PtyPair::~PtyPair() {
    if (!m_link.empty()) ::unlink(m_link.c_str());
    if (m_keepOpen >= 0) ::close(m_keepOpen);
    if (m_master >= 0) ::close(m_master);
}

bool PtyPair::Create(const std::string& link) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) return false;
    const char* name = ptsname(m_master);
    if (!name) return false;
    m_device = name;
    // Holding the device end open ourselves keeps the master readable while the program
    // closes and reopens the port (it does so for every data file): otherwise the master
    // reports a hang-up and loses what was queued.
    m_keepOpen = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_keepOpen < 0) return false;
    termios t{};
    if (tcgetattr(m_keepOpen, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        tcsetattr(m_keepOpen, TCSANOW, &t);
    }
    if (!link.empty()) {
        ::unlink(link.c_str());
        if (::symlink(name, link.c_str()) != 0) {
            std::perror("plcsim: symlink");
            return false;
        }
        m_link = link;
    }
    return true;
}

void PtyPair::CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}
