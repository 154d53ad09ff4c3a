#include "app/job.h"

#include <algorithm>

std::optional<double> Progress::fraction() const
{
    if (totalBytes < 1)
        return std::nullopt;
    return std::clamp(double(doneBytes) / double(totalBytes), 0.0, 1.0);
}

JobResult JobResult::succeeded(QString message)
{
    return {Outcome::Succeeded, std::move(message), ErrorKind::None};
}

JobResult JobResult::failed(const AppError &error)
{
    return {Outcome::Failed, error.message, error.kind};
}

JobResult JobResult::failed(QString message, ErrorKind kind)
{
    return {Outcome::Failed, std::move(message), kind};
}

JobResult JobResult::cancelled(QString message)
{
    return {Outcome::Cancelled, std::move(message), ErrorKind::None};
}

Job::Job(QObject *parent) : QObject(parent)
{
}

void Job::start()
{
    if (m_state != JobState::Pending)
        return;
    setState(JobState::Running);
    // Whoever started the job connects to it first and hears of everything it does.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_state != JobState::Finished)
                run();
        },
        Qt::QueuedConnection);
}

void Job::pause()
{
    if (m_state != JobState::Running || m_cancelRequested || !canPause())
        return;
    setState(JobState::Paused);
    onPause();
}

void Job::resume()
{
    if (m_state != JobState::Paused || m_cancelRequested)
        return;
    setState(JobState::Running);
    onResume();
}

void Job::cancel()
{
    if (m_state == JobState::Finished || m_cancelRequested)
        return;
    m_cancelRequested = true;
    if (m_state == JobState::Pending) {
        finish(cancelledBeforeStart());
        return;
    }
    onCancel();
}

void Job::setProgress(const Progress &progress)
{
    if (m_state == JobState::Finished || progress == m_progress)
        return;
    m_progress = progress;
    emit progressChanged(m_progress);
}

void Job::finish(JobResult result)
{
    if (m_state == JobState::Finished)
        return;
    // The user asked to stop: whatever went wrong while stopping is not a failure.
    if (m_cancelRequested && result.outcome == Outcome::Failed)
        result = JobResult::cancelled(cancelMessage());
    m_result = result;
    setState(JobState::Finished);
    emit finished(result);
}

void Job::setState(JobState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}
