#include "signalwatcher.h"

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

int SignalWatcher::pipeEnds[2] = {-1, -1};

namespace {

const int watchedSignals[] = {SIGINT, SIGTERM};

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return;
    ::fcntl(pipeEnds[1], F_SETFL, ::fcntl(pipeEnds[1], F_GETFL) | O_NONBLOCK);

    notifier = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    if (!notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    notifier.reset();
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void SignalWatcher::handle(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    (void)written;
}

void SignalWatcher::readSignal()
{
    unsigned char byte = 0;
    if (::read(pipeEnds[0], &byte, 1) == 1)
        emit terminationRequested(int(byte));
}
