#include "api/build_floor.h"

#include "api/release_statement.h"
#include "core/machine_record.h"

namespace tavro {

std::optional<std::string> rollbackFloor() {
    const MachineValue value = readMachineValue(kMachineKey, kBuildFloorValue);
    switch (value.state) {
        case MachineValue::State::absent:
            return std::nullopt;
        case MachineValue::State::text:
            return value.text;
        case MachineValue::State::unreadable:
            break;
    }
    return "(a value that is not text)";
}

bool raiseRollbackFloor(const std::string& build, std::string& error) {
    const std::optional<std::string> floor = rollbackFloor();
    if (floor) {
        const BuildOrder order = compareBuilds(build, *floor);
        if (order == BuildOrder::NotComparable) {
            error = "the build " + build + " or the rollback floor " + *floor +
                    " is not a decimal number; the floor is left as it is";
            return false;
        }
        if (order != BuildOrder::Newer) {
            return true;  // never lowered
        }
    }
    return writeMachineValue(kMachineKey, kBuildFloorValue, build, error);
}

}  // namespace tavro
