#include "app/process/process_runner.h"

#include "app/platform/system_clock.h"
#include "app/process/process_group_registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The diagnostic is kept for the explanation of a failure; the last lines say what went
// wrong, so a flood keeps its tail.
constexpr qsizetype kDiagnosticLimit = 1 << 20;

QString launchErrorText(const QString &program)
{
    const QFileInfo info(program);
    if (!info.exists())
        return QStringLiteral("Не удалось запустить программу «%1»: файл не найден.")
            .arg(info.fileName());
    if (!info.isFile() || !info.isExecutable())
        return QStringLiteral("Не удалось запустить программу «%1»: файл не является программой.")
            .arg(info.fileName());
    return QStringLiteral("Не удалось запустить программу «%1».").arg(info.fileName());
}

} // namespace

void ProcessControl::cancel()
{
    std::lock_guard lock(m_mutex);
    m_cancelRequested = true;
    if (m_runner)
        QMetaObject::invokeMethod(m_runner, &ProcessRunner::cancel, Qt::QueuedConnection);
}

bool ProcessControl::isCancelRequested() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelRequested;
}

void ProcessControl::attach(ProcessRunner *runner)
{
    std::lock_guard lock(m_mutex);
    m_runner = runner;
}

void ProcessControl::detach()
{
    std::lock_guard lock(m_mutex);
    m_runner = nullptr;
}

ProcessRunner::ProcessRunner(QObject *parent) : QObject(parent)
{
    m_control->attach(this);
}

ProcessRunner::~ProcessRunner()
{
    m_control->detach();
    if (m_process && m_running) {
        // Nothing may outlive its owner and keep writing; the group is ended at once and the
        // child reaped so that QProcess's destructor does not wait.
        disconnect(m_process, nullptr, this, nullptr);
        signalGroup(SIGKILL);
        m_process->waitForFinished(1000);
        if (m_request.groups)
            m_request.groups->remove(m_pid);
    }
}

void ProcessRunner::start(const ProcessRequest &request)
{
    if (m_startCalled)
        return;
    m_startCalled = true;
    m_request = request;
    m_result = ProcessResult();

    m_process = new QProcess(this);
    m_process->setProgram(request.program);
    m_process->setArguments(request.arguments);
    QString folder = request.workingDirectory;
    if (folder.isEmpty()) {
        m_privateFolder = std::make_unique<QTemporaryDir>(QDir::tempPath()
                                                          + QStringLiteral("/tovrin-run-XXXXXX"));
        // Without a temporary folder, the root: nothing there is the user's.
        folder = m_privateFolder->isValid() ? m_privateFolder->path() : QDir::rootPath();
    }
    m_process->setWorkingDirectory(folder);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setInputChannelMode(QProcess::ManagedInputChannel);
    // A group of its own: ending the engine also ends the helpers it started (FFmpeg and
    // the like), and a terminal's hang-up does not reach it by accident.
    // It also dies with the program, even when the program is killed or crashes and cannot end
    // it: the kernel sends SIGKILL when the thread that started it ends (a run's thread lives
    // until its child has exited). A parent that died before that was set is caught by
    // getppid(): the child is then an orphan and stops at once.
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });

    connect(m_process, &QProcess::started, this, &ProcessRunner::onStarted);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFailedToStart();
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        onFinished(code, status == QProcess::CrashExit);
    });
    connect(m_process, &QProcess::readyReadStandardOutput, this,
            &ProcessRunner::readStandardOutput);
    connect(m_process, &QProcess::readyReadStandardError, this, &ProcessRunner::readStandardError);

    m_killTimer = new QTimer(this);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this] { signalGroup(SIGKILL); });
    m_throttleTimer = new QTimer(this);
    m_throttleTimer->setSingleShot(true);
    connect(m_throttleTimer, &QTimer::timeout, this, &ProcessRunner::deliverHeldProgress);

    m_process->start(QIODevice::ReadWrite);
    m_process->closeWriteChannel();
}

void ProcessRunner::onStarted()
{
    m_running = true;
    m_pid = m_process->processId();
    m_result.launched = true;
    if (m_request.groups)
        m_request.groups->add(m_pid);
    if (m_request.timeoutSeconds > 0) {
        m_timeoutTimer = new QTimer(this);
        m_timeoutTimer->setSingleShot(true);
        connect(m_timeoutTimer, &QTimer::timeout, this, [this] {
            m_result.timedOut = true;
            endGroup();
        });
        m_timeoutTimer->start(int(m_request.timeoutSeconds * 1000));
    }
    // A stop asked for before the child existed takes effect now: before `started` the
    // child may not yet have its own group, so it could not be signalled.
    if (m_control->isCancelRequested())
        cancel();
}

void ProcessRunner::onFailedToStart()
{
    if (m_done)
        return;
    m_result.launched = false;
    m_result.launchError = launchErrorText(m_request.program);
    m_result.cancelled = m_control->isCancelRequested();
    // QProcess may report this from inside start(); the owner hears of the end only after
    // start() has returned, as with every other end.
    m_done = true;
    QMetaObject::invokeMethod(this, &ProcessRunner::complete, Qt::QueuedConnection);
}

void ProcessRunner::cancel()
{
    {
        std::lock_guard lock(m_control->m_mutex);
        m_control->m_cancelRequested = true;
    }
    if (!m_startCalled || m_done)
        return;
    m_result.cancelled = true;
    if (m_running)
        endGroup();
}

void ProcessRunner::endGroup()
{
    if (m_terminating || !m_running)
        return;
    m_terminating = true;
    signalGroup(SIGTERM);
    m_killTimer->start(kGraceMs);
}

void ProcessRunner::signalGroup(int signalNumber)
{
    if (m_pid > 0)
        ::kill(-pid_t(m_pid), signalNumber);
}

void ProcessRunner::readStandardOutput()
{
    const QByteArray chunk = m_process->readAllStandardOutput();
    if (chunk.isEmpty())
        return;
    if (m_request.keepStandardOutput) {
        if (m_result.outputLimitExceeded)
            return;
        if (m_result.standardOutput.size() + chunk.size() > m_request.standardOutputLimit) {
            m_result.outputLimitExceeded = true;
            m_result.standardOutput.clear();
            endGroup();
            return;
        }
        m_result.standardOutput.append(chunk);
        return;
    }
    const double readAt = monotonicNow();
    for (const QByteArray &line : m_outLines.append(chunk))
        handleStandardOutputLine(line, readAt);
}

void ProcessRunner::readStandardError()
{
    const QByteArray chunk = m_process->readAllStandardError();
    if (chunk.isEmpty())
        return;
    const double readAt = monotonicNow();
    for (const QByteArray &line : m_errLines.append(chunk))
        handleStandardErrorLine(line, readAt, true);
}

bool ProcessRunner::isProgressLine(const QByteArray &line) const
{
    return !m_request.progressMarker.isEmpty() && line.contains(m_request.progressMarker);
}

void ProcessRunner::handleStandardOutputLine(const QByteArray &line, double readAt)
{
    if (isProgressLine(line))
        offerProgress(QString::fromUtf8(line), readAt);
}

void ProcessRunner::handleStandardErrorLine(const QByteArray &line, double readAt, bool terminated)
{
    if (isProgressLine(line)) {
        offerProgress(QString::fromUtf8(line), readAt);
        return;
    }
    QString &diagnostic = m_result.diagnostic;
    diagnostic += QString::fromUtf8(line);
    if (terminated)
        diagnostic += u'\n';
    if (diagnostic.size() > 2 * kDiagnosticLimit)
        diagnostic = diagnostic.right(kDiagnosticLimit);
}

void ProcessRunner::offerProgress(const QString &line, double readAt)
{
    const double interval = m_request.progressIntervalSeconds;
    if (interval <= 0) {
        emit progressLine(line, readAt);
        return;
    }
    if (!m_lastDeliveredAt || readAt - *m_lastDeliveredAt >= interval) {
        m_heldProgress.reset();
        m_throttleTimer->stop();
        m_lastDeliveredAt = readAt;
        emit progressLine(line, readAt);
        return;
    }
    // Too soon after the last one: keep only the newest line and hand it over when the
    // interval is up, so the shown progress never lags more than one interval.
    m_heldProgress = std::make_pair(line, readAt);
    if (!m_throttleTimer->isActive()) {
        const double wait = *m_lastDeliveredAt + interval - readAt;
        m_throttleTimer->start(qMax(1, int(wait * 1000)));
    }
}

void ProcessRunner::deliverHeldProgress()
{
    if (!m_heldProgress)
        return;
    const auto [line, readAt] = *std::exchange(m_heldProgress, std::nullopt);
    m_lastDeliveredAt = monotonicNow();
    emit progressLine(line, readAt);
}

void ProcessRunner::onFinished(int exitCode, bool crashed)
{
    if (m_done)
        return;
    m_running = false;
    readStandardOutput();
    readStandardError();
    const double readAt = monotonicNow();
    if (const QByteArray rest = m_outLines.takeRemainder(); !rest.isEmpty())
        handleStandardOutputLine(rest, readAt);
    if (const QByteArray rest = m_errLines.takeRemainder(); !rest.isEmpty())
        handleStandardErrorLine(rest, readAt, false);
    m_throttleTimer->stop();
    deliverHeldProgress();

    m_result.exitCode = crashed ? -1 : exitCode;
    m_result.endedBySignal = crashed;
    if (m_control->isCancelRequested())
        m_result.cancelled = true;
    // The leader is gone, but after a stop or a time-out whatever it started must not keep
    // writing into the user's folders.
    if (m_terminating)
        signalGroup(SIGKILL);
    if (m_request.groups)
        m_request.groups->remove(m_pid);
    m_killTimer->stop();
    if (m_timeoutTimer)
        m_timeoutTimer->stop();
    complete();
}

void ProcessRunner::complete()
{
    m_done = true;
    m_control->detach();
    emit finished(m_result);
}

ProcessResult
runProcessToEnd(const ProcessRequest &request,
                const std::function<void(const std::shared_ptr<ProcessControl> &)> &started,
                const std::function<void(const QString &, double)> &progress)
{
    Q_ASSERT(!QCoreApplication::instance()
             || QThread::currentThread() != QCoreApplication::instance()->thread());
    QEventLoop loop;
    ProcessRunner runner;
    ProcessResult result;
    bool done = false;
    QObject::connect(&runner, &ProcessRunner::finished, &loop, [&](const ProcessResult &r) {
        result = r;
        done = true;
        loop.quit();
    });
    if (progress)
        QObject::connect(&runner, &ProcessRunner::progressLine, &loop, progress);
    if (started)
        started(runner.control());
    if (runner.control()->isCancelRequested())
        runner.cancel();
    runner.start(request);
    if (!done)
        loop.exec();
    return result;
}
