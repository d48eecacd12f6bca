// MetalTerminalRenderer: the frame's draw data, built row by row with the row cache and built
// again while atlases change under it; the rows' GPU buffers; and the per-frame mode's uploads.
#include "Kestrovan/Apple/GlyphSlotFit.h"
#include "Kestrovan/Apple/Metal/MetalRowPlacement.h"
#include "Kestrovan/Apple/Metal/MetalTerminalRenderer.h"
#include "Kestrovan/Profiling.h"
#include "Platform/Log/Log.h"

namespace kestrovan {

namespace {

const platform::Logger& atlasLog()
{
    static const platform::Logger logger("org.morvane.Kestrovan", "GPUAtlas");
    return logger;
}

/// Ends a profiling interval however the scope is left.
struct IntervalScope
{
    ProfilingInterval interval;
    ~IntervalScope() { interval.end(); }
};

} // namespace

DrawData MetalTerminalRenderer::buildDrawData(const TerminalSnapshot& snapshot,
                                              const SnapshotRenderContext& context)
{
    const std::optional<uint64_t> generation = profileTotals_.beginProfileBuild(activeProfileCounters_);
    glyphStore_->setProfileCounters(profileStatistics_ ? &activeProfileCounters_ : nullptr);
    DrawData data;
    for (int attempts = 0;; ++attempts) {
        if (attempts == maximumRebuildPasses) {
            atlasLog().error(
                "glyph working set exceeds max atlas capacity; some glyphs will be skipped this frame");
            grayscaleAtlas_->frozen = true;
            colorAtlas_->frozen = true;
        }
        glyphStore_->atlasInvalidatedDuringBuild = false;
        data = buildDrawDataPass(snapshot, context);
        if (!glyphStore_->atlasInvalidatedDuringBuild || attempts >= maximumRebuildPasses)
            break;
        // Texture coordinates made before the atlas grew or reset are stale: every row is
        // prepared again.
        rowCache_.clear();
        if (profileStatistics_)
            ++activeProfileCounters_.atlasInvalidationBuildAttempts;
        atlasLog().logf(platform::LogLevel::info,
                        "glyph atlas changed during frame build; rebuild pass %d/%d", attempts + 1,
                        maximumRebuildPasses);
    }
    profileTotals_.endProfileBuild(generation, activeProfileCounters_);
    grayscaleAtlas_->frozen = false;
    colorAtlas_->frozen = false;
    glyphStore_->setProfileCounters(nullptr);
    return data;
}

DrawData MetalTerminalRenderer::buildDrawDataPass(const TerminalSnapshot& snapshot,
                                                  const SnapshotRenderContext& context)
{
    const KittyGraphicsRenderSnapshot& kitty = snapshot.kitty.renderSnapshot;
    imageTextures_->pruneKittyTextureCache(kitty);
    imageTextures_->pruneLineImageTextures();

    const double scale = context.renderingScale;
    const platform::Size cell = context.cellDimension;
    const platform::FontRef& normal = context.fonts.normal();
    const double baselineOffset =
        GlyphSlotFitter::baselineOffset(normal ? normal->metrics() : platform::FontMetrics{}, cell.height);
    const RowPlacementMetrics metrics{cell.width, cell.height, baselineOffset,
                                      context.viewBounds.width * scale, scale};

    DrawData out;
    const std::optional<VisibleRowRange> range = visibleRowRange(snapshot);
    if (!range)
        return out;

    CacheSignature signature = CacheSignature::make(snapshot, context);
    if (!cacheSignature_ || *cacheSignature_ != signature) {
        // A new glyph-fallback provider may draw characters in other fonts: what was keyed by
        // raster font goes too. Everything else about glyphs stays valid.
        if (!cacheSignature_ || cacheSignature_->glyphFallbackIdentity != signature.glyphFallbackIdentity)
            glyphStore_->clearFontCaches();
        rowCache_.clear();
        cacheSignature_ = std::move(signature);
    }

    const bool perFrame = context.metalBufferingMode == MetalBufferingMode::perFrameAggregated;
    if (perFrame)
        out.frame.emplace();
    RowCache next;
    next.reserve(size_t(range->last - range->first + 1));
    int64_t rebuilt = 0;
    for (int64_t absolute = range->first; absolute <= range->last; ++absolute) {
        const int64_t index = absolute - snapshot.firstRow;
        if (index < 0 || index >= int64_t(snapshot.rows.size()))
            continue;
        const std::shared_ptr<TerminalSnapshotRow>& row = snapshot.rows[size_t(index)];
        if (!row || !row->line)
            continue;
        const std::shared_ptr<const BufferLine::RenderIdentity>& identity = row->sourceIdentityToken();
        const int64_t screenRow = absolute - range->yDisp;
        RowCacheInputs inputs = RowCacheInputs::make(*row, absolute, context);

        std::unique_ptr<RowCacheEntry> entry = identity ? rowCache_.take(identity.get()) : nullptr;
        if (entry && entry->identity == identity && entry->canReuse(*row, inputs, screenRow)) {
            // Unchanged: placed again only when it moved or lacks this mode's payload.
            if (entry->screenRow != screenRow || (perFrame ? !entry->data : !entry->buffers)) {
                const IntervalScope placing{ProfilingInterval::begin(ProfilingEvent::metalRowPlace)};
                RowDrawData placed =
                    placeRow(entry->prepared, screenRow, snapshot, context, metrics, *imageTextures_);
                if (perFrame) {
                    entry->data = std::move(placed);
                    entry->buffers.reset();
                } else {
                    entry->buffers = makeRowBuffers(placed, entry->buffers ? &*entry->buffers : nullptr);
                    entry->data.reset();
                }
                entry->screenRow = screenRow;
            }
            entry->revision = row->revision;
        } else {
            const IntervalScope building{ProfilingInterval::begin(ProfilingEvent::metalRowBuild)};
            auto made = std::make_unique<RowCacheEntry>();
            made->identity = identity;
            made->sourceGeneration = row->sourceGeneration;
            made->revision = row->revision;
            made->inputs = std::move(inputs);
            made->prepared =
                prepareRow(*row, absolute, context, cell.width, cell.height, baselineOffset, scale);
            made->screenRow = screenRow;
            RowDrawData placed =
                placeRow(made->prepared, screenRow, snapshot, context, metrics, *imageTextures_);
            if (perFrame)
                made->data = std::move(placed);
            else
                made->buffers = makeRowBuffers(placed, entry && entry->buffers ? &*entry->buffers : nullptr);
            entry = std::move(made);
            ++rebuilt;
        }
        if (entry->buffers)
            out.rows.push_back(*entry->buffers);
        if (entry->data && out.frame)
            out.frame->append(*entry->data);
        // A row without an identity (never copied) is drawn but not kept.
        if (identity)
            next.store(std::move(entry));
    }
    // Only rows visible in this frame are kept.
    rowCache_ = std::move(next);
    if (profileStatistics_)
        activeProfileCounters_.rowsRebuilt += rebuilt;

    CursorDrawData cursor = buildCursorDrawData(snapshot, context, scale, cell.width, cell.height,
                                                range->yDisp, range->first, range->last);
    out.cursorColorVertices = std::move(cursor.colorVertices);
    out.cursorGlyphVerticesGray = std::move(cursor.glyphVerticesGray);
    out.cursorGlyphVerticesColor = std::move(cursor.glyphVerticesColor);
    return out;
}

RowDrawBuffers MetalTerminalRenderer::makeRowBuffers(const RowDrawData& data, const RowDrawBuffers* reusing)
{
    RowDrawBuffers buffers;
    const auto reuse = [&](std::shared_ptr<platform::gpu::Buffer> RowDrawBuffers::*member) {
        return reusing ? reusing->*member : nullptr;
    };
    std::tie(buffers.backgroundBuffer, buffers.backgroundCount) = bufferPool_->makeStaticBuffer<ColorCell>(
        data.backgroundCells, reuse(&RowDrawBuffers::backgroundBuffer));
    std::tie(buffers.powerlineJoinBuffer, buffers.powerlineJoinCount) =
        bufferPool_->makeStaticBuffer<ColorCell>(data.powerlineJoinCells,
                                                 reuse(&RowDrawBuffers::powerlineJoinBuffer));
    std::tie(buffers.glyphGrayBuffer, buffers.glyphGrayCount) =
        bufferPool_->makeStaticBuffer<TextCell>(data.glyphCellsGray, reuse(&RowDrawBuffers::glyphGrayBuffer));
    std::tie(buffers.glyphColorBuffer, buffers.glyphColorCount) = bufferPool_->makeStaticBuffer<TextCell>(
        data.glyphCellsColor, reuse(&RowDrawBuffers::glyphColorBuffer));
    std::tie(buffers.decorationBuffer, buffers.decorationCount) = bufferPool_->makeStaticBuffer<ColorCell>(
        data.decorationCells, reuse(&RowDrawBuffers::decorationBuffer));
    buffers.belowBackgroundImageBuffers = makeImageDrawBuffers(data.belowBackgroundImageDraws);
    buffers.underImageBuffers = makeImageDrawBuffers(data.underImageDraws);
    buffers.placeholderImageBuffers = makeImageDrawBuffers(data.placeholderImageDraws);
    buffers.overImageBuffers = makeImageDrawBuffers(data.overImageDraws);
    buffers.otherImageBuffers = makeImageDrawBuffers(data.otherImageDraws);
    return buffers;
}

std::vector<ImageDrawBuffer> MetalTerminalRenderer::makeImageDrawBuffers(const std::vector<ImageDraw>& draws)
{
    std::vector<ImageDrawBuffer> buffers;
    for (const ImageDraw& draw : draws) {
        auto [buffer, count] = bufferPool_->makeStaticBuffer<GlyphVertex>(draw.vertices, nullptr);
        if (buffer && draw.texture)
            buffers.push_back(ImageDrawBuffer{draw.texture, std::move(buffer), int(count)});
    }
    return buffers;
}

void MetalTerminalRenderer::drawFrameData(const FrameDrawData& data, const MetalPipeline& backgroundPipeline,
                                          platform::gpu::PixelSize viewport)
{
    drawImageBatches(data.belowBackgroundImageDraws, viewport);
    drawRecords<ColorCell>(backgroundPipeline, nullptr, data.backgroundCells, viewport);
    drawImageBatches(data.underImageDraws, viewport);
    drawRecords<ColorCell>(cellColorPipeline, nullptr, data.powerlineJoinCells, viewport);
    drawRecords<TextCell>(cellTextGrayPipeline, grayscaleAtlas_->texture().get(), data.glyphCellsGray,
                          viewport);
    drawRecords<TextCell>(cellTextPipeline, colorAtlas_->texture().get(), data.glyphCellsColor, viewport);
    drawRecords<ColorCell>(cellColorPipeline, nullptr, data.decorationCells, viewport);
    drawImageBatches(data.placeholderImageDraws, viewport);
    drawImageBatches(data.overImageDraws, viewport);
    drawImageBatches(data.otherImageDraws, viewport);
}

void MetalTerminalRenderer::drawImageRows(const std::vector<RowDrawBuffers>& rows,
                                          std::vector<ImageDrawBuffer> RowDrawBuffers::*imageKey,
                                          platform::gpu::PixelSize viewport)
{
    bool set = false;
    for (const RowDrawBuffers& row : rows) {
        for (const ImageDrawBuffer& image : row.*imageKey) {
            if (!image.buffer || !image.texture || image.vertexCount < 1)
                continue;
            if (!set) {
                setLayer(textPipeline, nullptr, viewport);
                set = true;
            }
            device_->bindTexture(*image.texture, *sampler_);
            drawBuffer(*image.buffer, vertexLayout<GlyphVertex>(), uint32_t(image.vertexCount));
        }
    }
}

void MetalTerminalRenderer::drawImageBatches(const std::vector<ImageDraw>& draws,
                                             platform::gpu::PixelSize viewport)
{
    bool set = false;
    for (const ImageDraw& draw : draws) {
        if (!draw.texture)
            continue;
        auto buffer = bufferPool_->makeBuffer<GlyphVertex>(draw.vertices);
        if (!buffer)
            continue;
        if (!set) {
            setLayer(textPipeline, nullptr, viewport);
            set = true;
        }
        device_->bindTexture(*draw.texture, *sampler_);
        drawBuffer(*buffer, vertexLayout<GlyphVertex>(), uint32_t(draw.vertices.size()));
    }
}

} // namespace kestrovan
