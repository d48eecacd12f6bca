// The whole public engine API in one include, for programs that embed the terminal engine.
//
// Embedders with a view of their own use the terminal, its delegate and options, the local
// process that runs the child, and the portable snapshots and host input; embedders without one
// use the headless terminal. The headers for the engine's inner workings (parser, arena, ring,
// pipeline worker) are left out: they are included where they are used.
//
// It gathers every layer of the engine, the portable one included, so no file of the engine core
// includes it; the build gives it to the targets of the topmost engine layer and their users.
#pragma once

// The screen model
#include "Kestrovan/Attribute.h"
#include "Kestrovan/Buffer.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/CharData.h"
#include "Kestrovan/Color.h"
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/ImageCell.h"
#include "Kestrovan/Line.h"
#include "Kestrovan/Position.h"

// The emulator, and the state it keeps in types of their own
#include "Kestrovan/CharsetSlots.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/KittyKeyboardEncoder.h"
#include "Kestrovan/KittyKeyboardFlags.h"
#include "Kestrovan/LinkMatch.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/MouseReport.h"
#include "Kestrovan/MouseReportingState.h"
#include "Kestrovan/SelectionService.h"
#include "Kestrovan/SemanticContent.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalEnvironment.h"
#include "Kestrovan/TerminalLock.h"
#include "Kestrovan/TerminalModeSet.h"
#include "Kestrovan/TerminalOptions.h"
#include "Kestrovan/TerminalPalette.h"
#include "Kestrovan/TerminalPaste.h"
#include "Kestrovan/TerminalProgramStatus.h"
#include "Kestrovan/TerminalTitles.h"
#include "Kestrovan/TerminalVisibility.h"
#include "Kestrovan/ViewTerminal.h"

// The child process and the roads to and from it
#include "Kestrovan/IOTimerQueue.h"
#include "Kestrovan/LocalProcess.h"
#include "Kestrovan/LocalProcessDelegate.h"
#include "Kestrovan/LocalProcessError.h"
#include "Kestrovan/PseudoTerminalHelpers.h"
#include "Kestrovan/TerminalEventQueue.h"

// Hosts that draw for themselves, or have no view
#include "Kestrovan/ContentSnapshot.h"
#include "Kestrovan/HostKeyNames.h"
#include "Kestrovan/Portable/HeadlessTerminal.h"
#include "Kestrovan/Portable/RenderSnapshot.h"
#include "Kestrovan/Portable/RenderSnapshotBuilder.h"
#include "Kestrovan/Portable/TerminalRasterImage.h"
#include "Kestrovan/Portable/WasmHostEventQueue.h"
