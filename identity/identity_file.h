// The identity file data\local_addres.dat: two text lines, "EMAC=" and the six MAC bytes joined
// by ":", "IP=" and the four IP octets in two-digit upper-case hexadecimal joined by ":".
// Page-free, so the MAC/IP page, the console tool and the tests share it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

using MacFields = std::array<std::string, 6>;

extern const char kIdentityFile[];  // "data\local_addres.dat"

// What a reading gives: the MAC pieces (when asked for and line 1 was accepted) and the IP,
// first octet most significant (C0 A8 01 0A is 192.168.1.10).
struct IdentityReading {
    MacFields mac;
    uint32_t ip = 0;
};

// Reads the identity from the file's bytes as the program reads the file: false when, asked
// for the MAC, line 1 is not 22 characters once spaces are removed; `out` is then untouched.
bool ParseIdentity(const std::string& content, bool withMac, IdentityReading* out);

// Reads `path`; false when it cannot be opened or ParseIdentity refuses it.
bool LoadIdentityFile(const std::string& path, bool withMac, IdentityReading* out);

// "192.168.1.10" -> "C0:A8:01:0A".
std::string FormatIpForFile(const std::string& dottedIp);

// The two lines, each ended by CR LF; a MAC field of one character gets a "0" in front.
std::string ComposeIdentity(const MacFields& mac, const std::string& dottedIp);

// The identity file a run writes: the two lines over `own`, the bytes this controller's own
// file held when it was read (a controller may keep more after the two lines), or over nothing
// when it was not read, so that no other controller's file lends its tail.
std::string ComposeIdentityOver(const std::string& own, const MacFields& mac,
                                const std::string& dottedIp);

// Writes `content` as the whole of `path`. A missing file (and a missing folder) is created.
// False when the file cannot be written (read-only, locked, no folder).
bool SaveIdentityFile(const std::string& path, const std::string& content);

// "00:1A:2B:3C:4D:5E": the fields as they are, joined by ":".
std::string MacText(const MacFields& mac);

// "192.168.1.10" for 0xC0A8010A.
std::string DottedIp(uint32_t ip);
