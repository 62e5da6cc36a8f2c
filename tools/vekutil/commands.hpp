// The subcommands of vekutil.
#pragma once

#include "cli.hpp"

namespace vekutil {

extern const Command kStatusCommand;
extern const Command kMapDumpCommand;
extern const Command kMapGetCommand;
extern const Command kMapSetCommand;
extern const Command kMapTextCommand;
extern const Command kMapEncodeCommand;
extern const Command kMapJsonCommand;
extern const Command kListCommand;
extern const Command kIpcsumCommand;
extern const Command kRegionCreateCommand;
extern const Command kRegionLsCommand;
extern const Command kRegionInfoCommand;
extern const Command kRegionCheckCommand;
extern const Command kRegionRmCommand;
extern const Command kRsrcCommand;

} // namespace vekutil
