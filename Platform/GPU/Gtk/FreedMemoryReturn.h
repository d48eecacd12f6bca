// Giving the memory a GPU surface freed back to the system.
//
// A surface that goes frees frame-sized buffers, glyph atlases and its render thread's working
// memory. The C library keeps much of that for reuse: blocks freed by a render thread stay in that
// thread's own pool, and after a large block is freed the library raises the size it serves from
// its pools, so the next frame-sized buffers come from them too. A user switching tabs with the GPU
// on makes and drops a surface at every switch, and without a trim the process grew by megabytes
// of memory it no longer used, switch after switch.
#pragma once

namespace platform::gtk {

/// Asks the C library, shortly after on the main loop, to give the system the free memory of all
/// its pools. Calls made while one is pending share it, so a burst of surfaces that go costs one
/// trim (main thread).
void returnFreedMemorySoon();

/// Trims made so far (main thread).
int freedMemoryReturns();

} // namespace platform::gtk
