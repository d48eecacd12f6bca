// Cell packing, attribute interning and line operations: the per-character costs of the print
// path and the per-line costs of scrolling.
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/CircularBufferLineList.h"

#include <benchmark/benchmark.h>
#include <random>
#include <vector>

using namespace kestrovan;

namespace {

std::vector<Attribute> attributePool(size_t count)
{
    std::mt19937 random(7);
    std::vector<Attribute> pool;
    for (size_t i = 0; i < count; ++i)
        pool.emplace_back(Attribute::Color::ansi256(uint8_t(random())),
                          Attribute::Color::trueColor(1, 2, uint8_t(i)), CharacterStyle(uint8_t(random())));
    return pool;
}

// A run of text in one style: every lookup hits the cache.
void internRepeatedAttribute(benchmark::State& state)
{
    CellArena arena;
    const std::vector<Attribute> pool = attributePool(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(arena.intern(pool[0]));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(internRepeatedAttribute);

// Dense SGR output: a handful of attributes, seen again and again (two of these sixteen share a
// cache slot, so some lookups go to the map).
void internRecentAttributes(benchmark::State& state)
{
    CellArena arena;
    const std::vector<Attribute> pool = attributePool(16);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(arena.intern(pool[i & 15]));
        ++i;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(internRecentAttributes);

void packAndUnpackCells(benchmark::State& state)
{
    CellArena arena;
    const std::vector<Attribute> pool = attributePool(64);
    std::vector<CharData> cells;
    for (int i = 0; i < 256; ++i)
        cells.emplace_back(pool[size_t(i) & 63], 0x20 + i % 90, 1);
    size_t i = 0;
    for (auto _ : state) {
        const auto packed = arena.pack(cells[i & 255]);
        benchmark::DoNotOptimize(arena.unpack(*packed));
        ++i;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(packAndUnpackCells);

// ICH and DCH on an 80-column line, the block moves of editing a command line.
void insertAndDeleteCells(benchmark::State& state)
{
    BufferLine line(80, CharData(Attribute(), 'x', 1));
    for (auto _ : state) {
        line.insertPackedCells(10, 3, 79, PackedCell());
        line.deletePackedCells(10, 3, 79, PackedCell());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 2);
}
BENCHMARK(insertAndDeleteCells);

class BenchOwner : public LineRingOwner
{
public:
    std::shared_ptr<BufferLine> makeBlankLine(PackedCell blank, bool isWrapped) override
    {
        return std::make_shared<BufferLine>(80, blank, blank, isWrapped, BidiPresentationState(), arena_);
    }
    const std::shared_ptr<CellArena>& arena() const override { return arena_; }
    const std::shared_ptr<BufferRef>& bufferRef() const override { return ref_; }
    void adjustLinesWithImagesCount(int) override {}

private:
    std::shared_ptr<CellArena> arena_ = std::make_shared<CellArena>();
    std::shared_ptr<BufferRef> ref_ = std::make_shared<BufferRef>();
};

// Full-screen scroll of a full ring: each step recycles the oldest line after 40 columns of it
// were written, so only the used prefix is cleared.
void recycleFullRing(benchmark::State& state)
{
    BenchOwner owner;
    CircularBufferLineList ring(1024, &owner, true);
    for (int i = 0; i < 1024; ++i)
        ring.push(owner.makeBlankLine(PackedCell(), false));
    for (auto _ : state) {
        const auto& line = ring.recycle(PackedCell(), false, BidiPresentationState());
        line->fill(PackedCell::makeScalar('a', 0, PackedCell::WidthState::single, false, 0, 0), 0, 40);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(recycleFullRing);

} // namespace
