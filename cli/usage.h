// What plcflash-cli takes and what its exit statuses mean.
#pragma once

constexpr int kExitUsage = 2;
// A file or folder of the command's cannot be read, entered or written.
constexpr int kExitFile = 3;
// Engine result codes become 10 + code, so that code 0 (three NAKs) is not success.
constexpr int kExitResultBase = 10;
// The controller answered a read with a two-byte payload: the reader's 7, which is also a line
// state the port refused (17).
constexpr int kExitTwoBytePayload = 24;
// The images do not match system\SHA256SUMS, are not listed there, or the list is unusable.
constexpr int kExitImageSums = 25;
// update: one or more ports failed.
constexpr int kExitSomeFailed = 26;

extern const char kUsage[];

// The usage on stderr; the exit status of wrong arguments.
int Usage();
