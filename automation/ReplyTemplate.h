#pragma once

#include "automation/Pattern.h"
#include "text/Payload.h"

#include <cstdint>
#include <string>
#include <vector>

// A reply made from the message it answers: the form's text or hex pairs,
// in which these copy bytes of the message:
//   {*}      the whole message
//   {N}      the pattern's group N (0: what matched)
//   {@A}     the byte at offset A (from 0), {@A-B} bytes A to B, {@A-} from A on
// and "{{" is a "{". Any other "{" in a text is itself. The checksum and
// the line ending follow the bytes, as the send area adds them.
class ReplyTemplate {
public:
    // An empty text when it was taken; `groups`: how many the pattern has.
    std::wstring Compile(const PayloadForm& form, size_t groups);
    BuiltPayload Expand(const uint8_t* message, size_t size, const std::vector<ByteSpan>& groups) const;
    const PayloadForm& Form() const { return m_form; }

private:
    struct Piece {
        enum Kind { Bytes, Whole, Group, Range } kind = Bytes;
        std::vector<uint8_t> bytes;
        size_t first = 0, last = SIZE_MAX; // a group's number; a range's offsets (SIZE_MAX: to the end)
    };
    std::wstring AddLiteral(const std::wstring& run);

    PayloadForm m_form;
    std::vector<Piece> m_pieces;
};
