// What plcflash-cli takes and what its exit statuses mean.
#pragma once

constexpr int kExitUsage = 2;

extern const char kUsage[];

// The usage on stderr; the exit status of wrong arguments.
int Usage();
