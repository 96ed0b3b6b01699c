#include "app/EngineJobsOption.h"

#include "app/AppState.h"
#include "app/SettingsStore.h"

#include <algorithm>

namespace gm {

namespace {
const QString kOption = QStringLiteral("Option");
const QString kJobs = QStringLiteral("Jobs");
} // namespace

void readEngineJobs(const SettingsStore &store, AppState &state)
{
    int jobs = defaultEngineJobs();
    store.readInt32(kOption, kJobs, jobs, jobs);
    // A count edited by hand out of range is no reason to refuse to start.
    state.jobs = jobs >= 1 && jobs <= kMaxEngineJobs ? jobs : defaultEngineJobs();
}

void confirmEngineJobs(SettingsStore &store, AppState &state, int jobs)
{
    state.jobs = std::clamp(jobs, 1, kMaxEngineJobs);
    store.writeNumber(kOption, kJobs, state.jobs);
    store.sync();
}

} // namespace gm
