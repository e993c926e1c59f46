// The console tool's share of the record of attempts: where the rows go and what names the port.
#pragma once

#include <string>

#include "flash/attempt_record.h"

// The port as the port list names it, with its adapter ("COM5 (USB-SERIAL CH340)"), or as
// given when the list does not know it.
std::string PortWithAdapter(const std::string& port);

// `--record FILE` when given, else plcflash-history.csv in the storage root; empty when neither
// can be had.
std::string AttemptsPath(const std::string& given);

// Appends the row; a record that cannot be written is said on stderr and fails nothing.
void RecordAttempt(const std::string& path, const AttemptRecord& record);
