// Background threads are lowered once, relative to the main thread, however they were started.

#include "platform/ThreadPriority.h"

#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

#include <thread>

using namespace qr;

namespace {

int ownNice()
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

} // namespace

class TestThreadPriority : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lowersOnceRelativeToMainThread();
};

void TestThreadPriority::lowersOnceRelativeToMainThread()
{
    const int main = ownNice();
    int first = 0, again = 0, started = 0;
    std::thread worker([&] {
        ThreadPriority::lowerForBackgroundWork();
        first = ownNice();
        ThreadPriority::lowerForBackgroundWork();
        again = ownNice();
        // A thread a lowered one starts inherits its nice value; lowering it must not add to it.
        std::thread nested([&] {
            ThreadPriority::lowerForBackgroundWork();
            started = ownNice();
        });
        nested.join();
    });
    worker.join();
    QVERIFY(first > main);
    QCOMPARE(again, first);
    QCOMPARE(started, first);
    QCOMPARE(ownNice(), main);
}

QTEST_GUILESS_MAIN(TestThreadPriority)
#include "tst_ThreadPriority.moc"
