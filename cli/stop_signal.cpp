#include "cli/stop_signal.h"

namespace hgt::cli {

StopSignal::StopSignal() : hgt::StopSignal("hgtfill-cli: sofort beendet, der Lauf hielt nicht rechtzeitig an\n") {}

} // namespace hgt::cli
