// What every threaded unit stands on: the mailbox that carries answers to
// the window's thread, the event-line writer that keeps the window from
// waiting on standard output, and stopping in order with a limit.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "core/line_output.h"
#include "core/mailbox.h"
#include "core/worker_thread.h"
#include "test_support.h"

using namespace auralist;
using auralist::testing::CapturedOutput;
using auralist::testing::spinUntil;

TEST(Mailbox, CallsArriveInOrderOnTheOwnersThreadAndNoneAfterItIsGone)
{
    std::vector<int> seen;
    const auto owner = std::this_thread::get_id();
    bool onOwner = true;
    Mailbox::Sender sender;
    {
        Mailbox mailbox;
        sender = mailbox.sender();
        std::thread worker([&] {
            for (int i = 0; i < 1000; ++i)
                sender.post([&, i] {
                    onOwner = onOwner && std::this_thread::get_id() == owner;
                    seen.push_back(i);
                });
        });
        worker.join();
        ASSERT_TRUE(spinUntil([&] { return seen.size() == 1000; }));
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(seen[static_cast<size_t>(i)], i);
        EXPECT_TRUE(onOwner);
        // Queued, then the mailbox goes: never delivered.
        EXPECT_TRUE(sender.post([&] { seen.push_back(-1); }));
    }
    EXPECT_FALSE(sender.post([&] { seen.push_back(-2); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), 1000U);
}

TEST(QueuedLineOutput, LinesKeepTheirOrderAndAWriterNobodyReadsHoldsUpNoOne)
{
    CapturedOutput out;
    {
        // Lines made on the writer's thread (every tenth write here) come
        // out in their place among the others, from threads of their own.
        QueuedLineOutput lines(out.file());
        std::thread other([&] {
            for (int i = 0; i < 500; ++i)
                lines.write("other\n");
        });
        for (int i = 0; i < 2000; ++i) {
            if (i % 10 == 0)
                lines.writeMade([i] { return "made " + std::to_string(i) + "\n"; });
            else
                lines.write("line " + std::to_string(i) + "\n");
        }
        other.join();
        lines.drain();
        std::string mine;
        std::istringstream written(out.take());
        int others = 0;
        for (std::string line; std::getline(written, line);) {
            if (line == "other")
                ++others;
            else
                mine += line + "\n";
        }
        EXPECT_EQ(others, 500);
        std::string expected;
        for (int i = 0; i < 2000; ++i)
            expected += (i % 10 == 0 ? "made " : "line ") + std::to_string(i) + "\n";
        EXPECT_EQ(mine, expected);
    }

    // A pipe that nobody reads: its buffer fills, the writer thread waits
    // in write(), and the callers go on regardless.
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    std::FILE *pipe = ::fdopen(fds[1], "w");
    auto blocked = std::make_unique<QueuedLineOutput>(pipe);
    const std::string kilobyte(1023, 'x');
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 4096; ++i) { // 4 MB: far beyond a pipe's 64 KB
        blocked->write(kilobyte + "\n");
        blocked->flush();
    }
    EXPECT_LT(t.elapsed(), 2000);
    blocked->requestStop();
    EXPECT_FALSE(blocked->waitStopped(std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
    // The reader comes back: everything arrives, in order, and it ends.
    std::thread reader([fd = fds[0]] {
        char buffer[65536];
        while (::read(fd, buffer, sizeof buffer) > 0) { }
    });
    EXPECT_TRUE(blocked->waitStopped(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    blocked.reset();
    std::fclose(pipe);
    reader.join();
    ::close(fds[0]);
}

TEST(WorkerThread, StoppingInOrderGivesUpOnAStuckThreadAtTheDeadline)
{
    struct Unit : Stoppable {
        std::atomic<bool> stop{false};
        std::atomic<bool> stuck{false};
        WorkerThread thread;
        explicit Unit(bool stuckInACall)
        {
            stuck = stuckInACall;
            thread.start([this] {
                while (!stop.load() || stuck.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        }
        void requestStop() override { stop = true; }
        bool waitStopped(Deadline deadline) override { return thread.joinUntil(deadline); }
    };
    Unit first(false);
    Unit second(true);
    Unit third(false);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(
        stopInOrder({&first, &second, &third}, std::chrono::steady_clock::now() + std::chrono::milliseconds(300)));
    EXPECT_LT(t.elapsed(), 1000);
    // The others were stopped all the same.
    EXPECT_FALSE(first.thread.started());
    EXPECT_FALSE(third.thread.started());
    second.stuck = false;
    EXPECT_TRUE(stopInOrder({&second}, std::chrono::steady_clock::now() + std::chrono::seconds(10)));
}
