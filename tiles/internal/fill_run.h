#pragma once

#include "platform/save_file.h"
#include "tiles/run_result.h"
#include "tiles/internal/run_context.h"

#include <optional>
#include <string>

namespace hgt {

// The fill of one tile up to its output. With `pending`, a complete walk leaves its output there
// uncommitted for the caller to commit; without, the output is committed before the run returns.
// With `refusal`, the run fails with it at once, as a batch refuses a tile. Never throws.
// `pendingProvenance` takes the provenance companion the same way; without it, a pending tile's
// companion is committed by the run.
TileResult RunFill(RunContext& run, const std::string& primaryFile, const std::string& secondaryFolder,
                   std::optional<SaveFile>* pending, const Error* refusal = nullptr,
                   std::optional<SaveFile>* pendingProvenance = nullptr);

// Commits a fill's output with its provenance companion, or, without one, removes the companion an
// earlier fill left beside the output. Whenever it stops, the two on disk are the earlier pair, the
// new pair or a tile alone, never a tile beside another tile's companion.
Result<> CommitPair(SaveFile& output, std::optional<SaveFile>& provenance, const SaveOptions& options);

} // namespace hgt
