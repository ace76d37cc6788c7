#pragma once

#include <string>

namespace tavro {

// "<computer name>-<C: volume serial>[-<MachineGuid>]" in UTF-8, or "WindowsSerialUnknown".
std::string getPcSerialNumber();

// "ComputerName:<name>,Architecture:<n>,NumberOfLogicalProcessors:<n>,BuildNumber:<n>".
std::string getPcInformation();

}  // namespace tavro
