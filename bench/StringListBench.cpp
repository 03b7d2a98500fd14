// Benchmark: a million sorted additions to the string list.
// SPDX-License-Identifier: GPL-3.0-or-later
// Sorted additions at scale: the list must take a million additions in about
// a second while keeping the designed order.
#include <benchmark/benchmark.h>
#include <random>

#include "text/StringList.h"

namespace {

std::vector<std::string> makeNames(std::size_t count)
{
    std::mt19937_64 random(42);
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        // Catalogue-like keys: a padded size, then a file name.
        const auto size = random() % 100000;
        std::string key = std::to_string(size);
        key.insert(0, 9 - key.size(), ' ');
        key += " file" + std::to_string(random() % 50000) + ".dat";
        names.push_back(std::move(key));
    }
    return names;
}

void sortedAdditions(benchmark::State& state)
{
    const auto names = makeNames(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        text::StringList list(text::StringList::Order::Sorted);
        for (const std::string& name : names) {
            list.add(name, 1);
        }
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void sortedAdditionsIgnoringRepeats(benchmark::State& state)
{
    const auto names = makeNames(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        text::StringList list(text::StringList::Order::Sorted,
                                  text::StringList::Repeats::IgnoreFolded);
        for (const std::string& name : names) {
            list.add(name);
        }
        benchmark::DoNotOptimize(list.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(sortedAdditions)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(sortedAdditionsIgnoringRepeats)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
