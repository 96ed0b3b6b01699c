#pragma once

// How many engines a run may use at once: read at start-up, changed and saved by the options
// dialog. Stored as "Jobs" in section "Option"; when nothing (or nothing usable) is stored,
// one engine per processor.

namespace gm {

struct AppState;
class SettingsStore;

void readEngineJobs(const SettingsStore &store, AppState &state);
// The options dialog's confirmation: the count, kept within 1 and the most a run starts, is
// taken and saved.
void confirmEngineJobs(SettingsStore &store, AppState &state, int jobs);

} // namespace gm
