#include "ffmpegrun.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "measure.h"
#include "streamserver.h"

extern char **environ;

namespace {
constexpr int TimeoutSeconds = 300;

struct SingleRun
{
    bool ok = false;
    double wallSeconds = 0;  // from the connection to the exit
    double cpuSeconds = 0;
    QString problem;
};

double seconds(const timeval &time)
{
    return double(time.tv_sec) + double(time.tv_usec) / 1e6;
}

SingleRun runOnce(const std::vector<QByteArray> &frames, int count, const QString &logPath)
{
    SingleRun run;
    StreamServer server(frames, -1, 0);
    if (!server.start()) {
        run.problem = QStringLiteral("the camera could not listen on 127.0.0.1");
        return run;
    }
    const QByteArray url = "http://127.0.0.1:" + QByteArray::number(server.port()) + "/?action=stream";
    const QByteArray frameCount = QByteArray::number(count);
    const QByteArray program = QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).toLocal8Bit();
    std::vector<const char *> arguments {"ffmpeg", "-hide_banner", "-nostats", "-nostdin", "-threads", "1",
                                         "-i", url.constData(), "-frames:v", frameCount.constData(),
                                         "-f", "null", "-", nullptr};

    const QByteArray log = logPath.toLocal8Bit();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.constData(), &files, nullptr,
                                    const_cast<char *const *>(arguments.data()), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        run.problem = QStringLiteral("ffmpeg could not be started");
        return run;
    }

    int status = 0;
    rusage usage {};
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(TimeoutSeconds);
    pid_t ended = 0;
    while ((ended = wait4(child, &status, WNOHANG, &usage)) == 0) {
        if (Clock::now() > deadline) {
            kill(child, SIGKILL);
            ended = wait4(child, &status, 0, &usage);
            run.problem = QStringLiteral("ffmpeg did not finish in %1 s").arg(TimeoutSeconds);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const Clock::time_point exited = Clock::now();
    server.finish();
    if (!run.problem.isEmpty())
        return run;
    if (ended != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !server.accepted()) {
        QFile output(logPath);
        output.open(QIODevice::ReadOnly);
        run.problem = QStringLiteral("ffmpeg failed: %1")
                          .arg(QString::fromLocal8Bit(output.readAll().right(300)).simplified());
        return run;
    }
    run.ok = true;
    run.wallSeconds = millisecondsBetween(server.acceptedAt(), exited) / 1000.0;
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return run;
}
}

bool ffmpegAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

FfmpegResult runFfmpeg(const std::vector<QByteArray> &frames, int count, const QString &workFolder)
{
    FfmpegResult result;
    const QString logPath = QDir(workFolder).filePath(QStringLiteral("ffmpeg.log"));
    const SingleRun baseline = runOnce(frames, 1, logPath);
    const SingleRun full = baseline.ok ? runOnce(frames, count, logPath) : baseline;
    if (!full.ok) {
        result.problem = full.problem;
        return result;
    }
    const int extraFrames = count - 1;
    const double wall = full.wallSeconds - baseline.wallSeconds;
    if (extraFrames <= 0 || wall <= 0) {
        result.problem = QStringLiteral("too few frames to tell ffmpeg's rate");
        return result;
    }
    result.ok = true;
    result.framesPerSecond = extraFrames / wall;
    result.cpuMillisecondsPerFrame = (full.cpuSeconds - baseline.cpuSeconds) * 1000.0 / extraFrames;
    return result;
}
