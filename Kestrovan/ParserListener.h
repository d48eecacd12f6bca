// What the escape-sequence parser calls when it has cut the input into actions.
//
// The parser knows nothing of cells or of the terminal: it hands printable runs and complete
// control functions to a `ParserListener`, which the `Terminal` implements and routes to its
// handlers. Every span passed here borrows the parser's input or scratch storage and is valid only
// during the call.
//
// Re-entrancy: a listener may call the parser's `reset()` from inside a call (ESC c does); the
// parser then goes on with the rest of the chunk from the reset state.
#pragma once

#include "Kestrovan/CsiParameters.h"
#include "Kestrovan/DcsHandler.h"

#include <cstdint>
#include <memory>
#include <span>

namespace kestrovan {

/// What follows a run of text a listener is handed together with it.
enum class TextThen : uint8_t
{
    nothing,
    /// EL 0 (CSI K): the line is erased from where the text left the cursor.
    eraseToEndOfLine,
};

class ParserListener
{
public:
    virtual ~ParserListener() = default;

    /// A run of bytes at or above 0x20 from the ground state (UTF-8 text, DEL and 8-bit C1 included).
    virtual void handlePrintBorrowed(std::span<const uint8_t> bytes) = 0;
    /// A C0 control, or a C1 control that is not a sequence introducer.
    virtual void dispatchExecute(uint8_t code) = 0;
    /// ESC with its intermediates (`collect`) and final byte.
    virtual void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) = 0;
    /// A complete CSI sequence. For final "m" the colon mask of the parameters is published in the
    /// parser's `parsColonMask()` before this call.
    virtual void dispatchCsi(uint8_t code, const CsiParameters& pars, std::span<const uint8_t> collect) = 0;
    /// A complete OSC: its number, the payload after the first ";" and the byte that ended it (0x07,
    /// 0x1B for ESC \, or 0x9C).
    virtual void dispatchOsc(int code, std::span<const uint8_t> data, uint8_t terminator) = 0;
    /// A complete, non-empty APC: its first byte and the rest.
    virtual void dispatchApc(uint8_t command, std::span<const uint8_t> content) = 0;
    /// The built-in handler for a DCS sequence, asked when the parser's `dcsHandlerFactory` has none;
    /// null discards the payload.
    virtual std::shared_ptr<DcsHandler>
    makeDcsHandler(std::span<const uint8_t> collect, const CsiParameters& parameters, uint8_t finalByte) = 0;
    /// True to suppress the parsing-error report on standard output.
    virtual bool silentLog() const = 0;
};

} // namespace kestrovan
