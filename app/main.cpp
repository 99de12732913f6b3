#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <pthread.h>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace {

// Qt's messages while it looks for a display. Without one it writes English
// advice to reinstall and aborts; the user is told in Italian instead, and
// the program ends with status 1. Otherwise the messages go out as usual.
std::vector<std::pair<QtMsgType, QString>> startupMessages;

void duringStartup(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtFatalMsg) {
        startupMessages.emplace_back(type, text);
        return;
    }
    // Without a display the platform plugin says it cannot connect; any
    // other failure to load it is the system's, most often memory.
    bool noDisplay = text.contains(QLatin1String("could not connect to display"));
    for (const auto& [kind, earlier] : startupMessages)
        noDisplay = noDisplay || earlier.contains(QLatin1String("could not connect to display"));
    std::fputs(noDisplay ? "Quadrilo: nessuno schermo disponibile. Quadrilo è un programma a finestre e va "
                           "avviato da una sessione grafica.\n"
                         : "Quadrilo: non è stato possibile aprire la finestra: il sistema non concede a "
                           "Quadrilo la memoria o le risorse per caricare il modulo grafico.\n",
               stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

// Whether the address space still has room for the window and a worker:
// 12 MB reserved, never touched, and given back.
bool hasHeadroom()
{
    constexpr std::size_t room = std::size_t{12} << 20;
#ifdef _WIN32
    void* probe = VirtualAlloc(nullptr, room, MEM_RESERVE, PAGE_NOACCESS);
    if (probe == nullptr)
        return false;
    VirtualFree(probe, 0, MEM_RELEASE);
#else
    void* probe = mmap(nullptr, room, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED)
        return false;
    munmap(probe, room);
#endif
    return true;
}

// Whether the system gives this process `wanted` more threads at once. Qt
// needs two of its own (the display's events, and the session bus of the
// accessibility bridge, for which it waits for good when it cannot start
// it), and the evaluations one, which is also the engine's first worker. The
// threads asked for here have small stacks: a limit on memory is not theirs
// to find.
bool hasThreads(unsigned wanted)
{
    struct Gate {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
    } gate;
    pthread_attr_t small;
    pthread_attr_init(&small);
    pthread_attr_setstacksize(&small, 64 * 1024);
    std::vector<pthread_t> threads;
    for (unsigned i = 0; i < wanted; ++i) {
        pthread_t thread;
        const auto waitAtGate = [](void* arg) -> void* {
            auto* g = static_cast<Gate*>(arg);
            std::unique_lock lock(g->mutex);
            g->opened.wait(lock, [g] { return g->open; });
            return nullptr;
        };
        if (pthread_create(&thread, &small, waitAtGate, &gate) != 0)
            break;
        threads.push_back(thread);
    }
    pthread_attr_destroy(&small);
    {
        std::lock_guard lock(gate.mutex);
        gate.open = true;
    }
    gate.opened.notify_all();
    for (pthread_t thread : threads)
        pthread_join(thread, nullptr);
    return threads.size() == wanted;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!hasThreads(3)) {
        std::fputs("Quadrilo: il sistema non concede a Quadrilo i thread per aprire la finestra e "
                   "calcolare (ne servono 3 oltre al principale); chiudere qualche programma e "
                   "riavviarlo.\n",
                   stderr);
        return 1;
    }
    const QtMessageHandler usual = qInstallMessageHandler(duringStartup);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    for (const auto& [type, text] : startupMessages)
        qt_message_output(type, QMessageLogContext(), text);
    startupMessages.clear();

    // Fontconfig, which lays out the captions, does not survive running out
    // of memory: the window is built only with room to spare, and the engine
    // needs more. Without it the program says so rather than crashing.
    std::unique_ptr<Form1> form;
    try {
        if (!hasHeadroom())
            throw std::bad_alloc();
        prepareApplication();
        form = std::make_unique<Form1>();
    } catch (const std::bad_alloc&) {
        std::fputs("Quadrilo: memoria insufficiente. Il sistema non concede a Quadrilo la memoria per "
                   "aprire la finestra e calcolare; chiudere qualche programma e riavviarlo.\n",
                   stderr);
        // Tearing Qt down would start fontconfig only to close it, and
        // fontconfig crashes when it runs out of memory reading its files.
        std::_Exit(1);
    }
    form->show();
    return app.exec();
}
