#include "engine/tool_install_job.h"

namespace {

qint64 downloadBytes(const std::optional<ToolInstallJob::Step> &step)
{
    return step ? qint64(step->installer.tool().downloadMegabytes) * 1'000'000 : 0;
}

} // namespace

ToolInstallJob::ToolInstallJob(std::optional<Step> engine, std::optional<Step> runtime,
                               ToolFolderUsage *usage, QObject *parent)
    : Job(parent), m_engine(std::move(engine)), m_runtime(std::move(runtime)), m_usage(usage),
      m_totalBytes(std::max<qint64>(downloadBytes(m_engine) + downloadBytes(m_runtime), 1))
{
    Progress start;
    start.totalBytes = m_totalBytes;
    setProgress(start);
}

void ToolInstallJob::run()
{
    m_work.start([this](const CancelToken &cancel) { return install(cancel); },
                 [this](const Results &results) {
                     m_results = results;
                     if (isCancelRequested())
                         finish(JobResult::cancelled());
                     else if (results.engine && !results.engine->ok())
                         finish(JobResult::failed(results.engine->error()));
                     else
                         finish(JobResult::succeeded());
                 });
}

// Runs on the worker: the installers block and never touch the preferences.
ToolInstallJob::Results ToolInstallJob::install(const CancelToken &cancel)
{
    const double engineShare = double(downloadBytes(m_engine)) / double(m_totalBytes);
    Results results;
    if (m_engine)
        results.engine = m_engine->installer.install(m_engine->installedDigest,
                                                     reporter(0, engineShare), cancel, m_usage);
    if (m_runtime && !cancel.isCancelled())
        results.runtime = m_runtime->installer.install(
            m_runtime->installedDigest, reporter(engineShare, 1 - engineShare), cancel, m_usage);
    return results;
}

std::function<void(double)> ToolInstallJob::reporter(double from, double share)
{
    return [this, from, share](double value) {
        const qint64 done = qint64(double(m_totalBytes) * (from + share * value) + 0.5);
        m_work.post([this, done] {
            Progress progress = this->progress();
            progress.doneBytes = done;
            setProgress(progress);
        });
    };
}
