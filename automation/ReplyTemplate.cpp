#include "automation/ReplyTemplate.h"

#include "text/Hex.h"
#include "text/Utf8.h"

namespace {

bool ReadNumber(const std::wstring& text, size_t& i, size_t& value)
{
    const size_t start = i;
    value = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && i - start < 9)
        value = value * 10 + size_t(text[i++] - L'0');
    return i > start;
}

} // namespace

std::wstring ReplyTemplate::AddLiteral(const std::wstring& run)
{
    if (run.empty())
        return L"";
    Piece piece;
    if (m_form.hex) {
        if (!ParseHexBytes(run, piece.bytes))
            return L"\"" + run + L"\" in the reply is not hex pairs.";
    } else if (m_form.escapes) {
        Unescaped expanded = ExpandEscapes(run);
        if (!expanded.problem.empty())
            return L"An escape in \"" + run + L"\" is not one of \\r \\n \\t \\0 \\\\ \\xHH.";
        piece.bytes = std::move(expanded.bytes);
    } else {
        piece.bytes = EncodeUtf8(run);
    }
    m_pieces.push_back(std::move(piece));
    return L"";
}

std::wstring ReplyTemplate::Compile(const PayloadForm& form, size_t groups)
{
    m_form = form;
    m_pieces.clear();
    const std::wstring& text = form.text;
    std::wstring run;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'{') {
            run += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == L'{') {
            if (form.hex)
                return L"A hex reply has no \"{{\".";
            run += L'{';
            ++i;
            continue;
        }
        // What may follow a "{": one of the copies, closed by "}".
        Piece piece;
        size_t j = i + 1;
        bool formed = false;
        if (j < text.size() && text[j] == L'*') {
            piece.kind = Piece::Whole;
            formed = ++j < text.size() && text[j] == L'}';
        } else if (j < text.size() && text[j] == L'@') {
            piece.kind = Piece::Range;
            ++j;
            if (ReadNumber(text, j, piece.first)) {
                piece.last = piece.first;
                if (j < text.size() && text[j] == L'-') {
                    ++j;
                    if (!ReadNumber(text, j, piece.last))
                        piece.last = SIZE_MAX;
                }
                formed = j < text.size() && text[j] == L'}' && piece.last >= piece.first;
            }
        } else if (ReadNumber(text, j, piece.first)) {
            piece.kind = Piece::Group;
            formed = j < text.size() && text[j] == L'}';
        }
        if (!formed) {
            if (form.hex)
                return L"The reply's \"{\" at character " + std::to_wstring(i + 1) +
                       L" begins none of {*}, {N}, {@A}, {@A-B}, {@A-}.";
            run += L'{';
            continue;
        }
        if (piece.kind == Piece::Group && piece.first > groups)
            return L"The reply copies group " + std::to_wstring(piece.first) + L", but the pattern has " +
                   std::to_wstring(groups) + (groups == 1 ? L" group." : L" groups.");
        if (const std::wstring problem = AddLiteral(run); !problem.empty())
            return problem;
        run.clear();
        m_pieces.push_back(std::move(piece));
        i = j;
    }
    return AddLiteral(run);
}

BuiltPayload ReplyTemplate::Expand(const uint8_t* message, size_t size, const std::vector<ByteSpan>& groups) const
{
    std::vector<uint8_t> body;
    for (const Piece& piece : m_pieces) {
        switch (piece.kind) {
        case Piece::Bytes:
            body.insert(body.end(), piece.bytes.begin(), piece.bytes.end());
            break;
        case Piece::Whole:
            body.insert(body.end(), message, message + size);
            break;
        case Piece::Group:
            if (piece.first < groups.size()) {
                const ByteSpan& span = groups[piece.first];
                body.insert(body.end(), message + span.from, message + span.from + span.count);
            }
            break;
        case Piece::Range: {
            // An open range may copy nothing: a request with no data after its header.
            if (piece.last == SIZE_MAX && piece.first <= size) {
                body.insert(body.end(), message + piece.first, message + size);
                break;
            }
            const size_t last = piece.last == SIZE_MAX ? piece.first : piece.last;
            if (piece.first >= size || last >= size) {
                BuiltPayload out;
                const std::wstring which = piece.first == last ? L"byte " + std::to_wstring(piece.first)
                                                               : L"bytes " + std::to_wstring(piece.first) + L"-" +
                                                                     std::to_wstring(last);
                out.problem = L"the reply copies " + which + L", but the message has " + std::to_wstring(size) +
                              (size == 1 ? L" byte" : L" bytes");
                return out;
            }
            body.insert(body.end(), message + piece.first, message + last + 1);
            break;
        }
        }
    }
    return FinishPayload(m_form, std::move(body));
}
