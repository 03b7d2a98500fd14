// Tests of the reader threads: order of reading, batches and cancelling.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "search/ReaderPool.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>

using search::ReaderPool;
using search::ReadWork;

namespace {

// Work that records the order it was read in and may end a batch.
class Piece : public ReadWork {
public:
    Piece(std::uint64_t where, std::vector<std::uint64_t>& log, std::mutex& mutex,
          std::atomic<int>& left)
        : m_log(log), m_mutex(mutex), m_left(left)
    {
        place = where;
    }
    bool read(unsigned) override
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_log.push_back(place);
        }
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
        if (fail) {
            throw std::runtime_error("unreadable");
        }
        return --m_left == 0;
    }
    std::chrono::milliseconds pause{0};
    bool fail = false;

private:
    std::vector<std::uint64_t>& m_log;
    std::mutex& m_mutex;
    std::atomic<int>& m_left;
};

struct Batch {
    std::vector<std::uint64_t> log;
    std::mutex mutex;
    std::atomic<int> left{0};
    std::vector<std::unique_ptr<Piece>> pieces;

    std::vector<ReadWork*> make(const std::vector<std::uint64_t>& places)
    {
        std::vector<ReadWork*> work;
        left = static_cast<int>(places.size());
        for (std::uint64_t place : places) {
            pieces.push_back(std::make_unique<Piece>(place, log, mutex, left));
            work.push_back(pieces.back().get());
        }
        return work;
    }
};

bool waitUntilEnded(ReaderPool& pool)
{
    for (int i = 0; i < 500; ++i) {
        if (pool.waitForBatch(std::chrono::milliseconds(10))) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(ReaderPoolTest, OneReaderSweepsAcrossTheDiskInOrderOfPlace)
{
    ReaderPool pool(1, 1);
    Batch batch;
    pool.submit(batch.make({50, 10, 40, 20, 30}));
    ASSERT_TRUE(waitUntilEnded(pool));
    EXPECT_EQ(batch.log, (std::vector<std::uint64_t>{10, 20, 30, 40, 50}));
}

TEST(ReaderPoolTest, WithoutReadersTheCallerReadsBetweenItsTurns)
{
    ReaderPool pool(0, 0);
    Batch batch;
    pool.submit(batch.make({3, 1, 2}));
    EXPECT_TRUE(waitUntilEnded(pool));
    EXPECT_EQ(batch.log, (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(pool.outstanding(), 0u);
}

TEST(ReaderPoolTest, ACancelLeavesWorkNotBegunUndone)
{
    ReaderPool pool(2, 2);
    Batch batch;
    std::vector<ReadWork*> work = batch.make({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    for (auto& piece : batch.pieces) {
        piece->pause = std::chrono::milliseconds(20);
    }
    pool.submit(work);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    pool.cancel();
    EXPECT_EQ(pool.outstanding(), 0u);
    const std::size_t read = batch.log.size();
    EXPECT_LT(read, 10u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(batch.log.size(), read);  // nothing more after the cancel returned
}

TEST(ReaderPoolTest, WhatAReaderThrowsReachesTheCaller)
{
    ReaderPool pool(2, 2);
    Batch batch;
    std::vector<ReadWork*> work = batch.make({1, 2, 3});
    batch.pieces[1]->fail = true;
    pool.submit(work);
    bool thrown = false;
    for (int i = 0; i < 500 && !thrown; ++i) {
        try {
            pool.waitForBatch(std::chrono::milliseconds(10));
        } catch (const std::runtime_error&) {
            thrown = true;
        }
    }
    EXPECT_TRUE(thrown);
}
