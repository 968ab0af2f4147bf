#include "automation/Library.h"

#include "automation/ReplyTemplate.h"
#include "text/Utf8.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <set>

namespace {


// A pattern's or a payload's own blanks at its end are kept.
std::wstring LeftTrimBlanks(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    return first == std::wstring::npos ? L"" : text.substr(first);
}

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = wchar_t(std::towlower(c));
    return text;
}

bool StartsWith(const std::wstring& text, const std::wstring& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// A whole number of milliseconds, up to a day.
bool ParseMs(const std::wstring& text, uint32_t& ms)
{
    return ParseWholeNumber(text, 86400000, ms);
}

const wchar_t* EndingName(LineEnding ending)
{
    static const wchar_t* const names[] = {L"None", L"CR", L"LF", L"CRLF"};
    return names[size_t(ending)];
}

bool ParseEnding(const std::wstring& text, LineEnding& ending)
{
    for (int i = 0; i < 4; ++i)
        if (Lower(text) == Lower(EndingName(LineEnding(i)))) {
            ending = LineEnding(i);
            return true;
        }
    return false;
}

std::wstring ChecksumWord(Checksum kind)
{
    return kind == Checksum::None ? L"None" : ChecksumName(kind);
}

bool ParseChecksum(const std::wstring& text, Checksum& kind)
{
    for (int i = 0; i < kChecksumCount; ++i)
        if (Lower(text) == Lower(ChecksumWord(Checksum(i))) || Lower(text) == Lower(ChecksumName(Checksum(i)))) {
            kind = Checksum(i);
            return true;
        }
    return false;
}

bool ParseFlag(const std::wstring& text, bool& flag)
{
    const std::wstring word = Lower(text);
    if (word == L"yes" || word == L"on" || word == L"true" || word == L"1")
        flag = true;
    else if (word == L"no" || word == L"off" || word == L"false" || word == L"0")
        flag = false;
    else
        return false;
    return true;
}

const wchar_t* FlagWord(bool flag)
{
    return flag ? L"yes" : L"no";
}

// A text's lines, as the file holds them: the first after "Text=", each
// further one after "Text+=".
std::vector<std::wstring> TextLines(const std::wstring& text)
{
    std::vector<std::wstring> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r' || text[i] == L'\n') {
            if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
            lines.emplace_back();
        } else {
            lines.back() += text[i];
        }
    }
    return lines;
}

struct Writer {
    std::wstring out;
    void Line(const std::wstring& text) { out += text + L"\r\n"; }
    void Key(const wchar_t* key, const std::wstring& value) { Line(std::wstring(key) + L"=" + value); }
    void Payload(const PayloadForm& form)
    {
        if (form.hex) {
            Key(L"Hex", form.text);
        } else {
            const std::vector<std::wstring> lines = TextLines(form.text);
            Key(L"Text", lines[0]);
            for (size_t i = 1; i < lines.size(); ++i)
                Key(L"Text+", lines[i]);
            Key(L"Escapes", FlagWord(form.escapes));
            Key(L"Ending", EndingName(form.ending));
        }
        Key(L"Checksum", ChecksumWord(form.checksum));
    }
};

} // namespace

bool NameLooksLikePayload(const std::wstring& name)
{
    const std::wstring start = Lower(name.substr(0, 5));
    return StartsWith(start, L"text:") || StartsWith(start, L"hex:");
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::wstring ShortcutText(const Shortcut& shortcut)
{
    if (shortcut.key < 1 || shortcut.key > 12)
        return L"";
    return (shortcut.shift ? L"Shift+F" : L"F") + std::to_wstring(shortcut.key);
}

bool ParseShortcut(const std::wstring& text, Shortcut& shortcut)
{
    std::wstring rest = Lower(TrimBlanks(text));
    Shortcut parsed;
    if (rest.empty()) {
        shortcut = parsed;
        return true;
    }
    if (StartsWith(rest, L"shift+")) {
        parsed.shift = true;
        rest = rest.substr(6);
    }
    uint32_t key = 0;
    if (rest.size() < 2 || rest[0] != L'f' || !ParseWholeNumber(rest.substr(1), 12, key))
        return false;
    parsed.key = int(key);
    if (parsed.key < 1 || parsed.key > 12)
        return false;
    shortcut = parsed;
    return true;
}

std::wstring StepText(const Step& step)
{
    switch (step.kind) {
    case Step::Kind::SendCommand:
        return L"send " + step.command;
    case Step::Kind::SendPayload:
        return (step.payload.hex ? L"send hex: " : L"send text: ") + step.payload.text;
    case Step::Kind::Wait:
        return L"wait " + std::to_wstring(step.ms);
    case Step::Kind::WaitFor:
        return L"wait up to " + std::to_wstring(step.ms) + (step.goOnAfterTimeout ? L" or go on" : L"") + L" for " +
               MatchKindName(step.match) + L" " + step.pattern;
    }
    return L"";
}

std::wstring ParseStep(const std::wstring& text, Step& out)
{
    Step step;
    const std::wstring trimmed = LeftTrimBlanks(text);
    const std::wstring lower = Lower(trimmed);
    if (StartsWith(lower, L"send ")) {
        const std::wstring what = LeftTrimBlanks(trimmed.substr(5));
        const std::wstring whatLower = Lower(what);
        if (StartsWith(whatLower, L"text:") || StartsWith(whatLower, L"hex:")) {
            const bool hex = StartsWith(whatLower, L"hex:");
            step.kind = Step::Kind::SendPayload;
            step.payload.hex = hex;
            step.payload.escapes = !hex;
            // One blank after the colon is the step's own; the rest is the payload's.
            std::wstring payload = what.substr(hex ? 4 : 5);
            if (!payload.empty() && payload[0] == L' ')
                payload.erase(0, 1);
            step.payload.text = payload;
            const BuiltPayload built = MakePayload(step.payload);
            if (!built.problem.empty())
                return built.problem;
            if (built.bytes.empty())
                return L"\"" + trimmed + L"\" sends nothing.";
        } else {
            if (what.empty())
                return L"\"send\" needs the name of a command, or \"text:\" or \"hex:\" and a payload.";
            step.kind = Step::Kind::SendCommand;
            step.command = TrimBlanks(what);
        }
        out = step;
        return L"";
    }
    if (!StartsWith(lower, L"wait "))
        return L"\"" + trimmed + L"\" is none of \"send ...\", \"wait MS\", \"wait up to MS for ...\".";
    std::wstring rest = LeftTrimBlanks(trimmed.substr(5));
    const bool upTo = StartsWith(Lower(rest), L"up to ");
    if (upTo)
        rest = LeftTrimBlanks(rest.substr(6));
    if (!upTo)
        rest = TrimBlanks(rest);
    const size_t numberEnd = rest.find(L' ');
    if (!ParseMs(rest.substr(0, numberEnd), step.ms))
        return L"\"" + trimmed + L"\" needs a time in milliseconds (0 to 86400000).";
    if (!upTo) {
        if (numberEnd != std::wstring::npos)
            return L"\"" + trimmed + L"\": a plain wait takes only its milliseconds.";
        step.kind = Step::Kind::Wait;
        out = step;
        return L"";
    }
    step.kind = Step::Kind::WaitFor;
    rest = numberEnd == std::wstring::npos ? L"" : rest.substr(numberEnd + 1);
    rest = LeftTrimBlanks(rest);
    if (StartsWith(Lower(rest), L"or go on ")) {
        step.goOnAfterTimeout = true;
        rest = LeftTrimBlanks(rest.substr(9));
    }
    if (!StartsWith(Lower(rest), L"for "))
        return L"\"" + trimmed + L"\" needs \"for\" and what to wait for: exact, contains, hex or regex, and the pattern.";
    rest = LeftTrimBlanks(rest.substr(4));
    const size_t kindEnd = rest.find(L' ');
    if (kindEnd == std::wstring::npos || !MatchKindFromName(Lower(rest.substr(0, kindEnd)), step.match))
        return L"\"" + trimmed + L"\" needs exact, contains, hex or regex, a blank, and the pattern.";
    step.pattern = rest.substr(kindEnd + 1);
    Pattern pattern;
    if (const std::wstring problem = pattern.Compile(step.match, step.pattern); !problem.empty())
        return problem;
    out = step;
    return L"";
}

std::wstring RuleProblem(const ResponderRule& rule)
{
    Pattern pattern;
    if (std::wstring problem = pattern.Compile(rule.match, rule.pattern); !problem.empty())
        return problem;
    ReplyTemplate reply;
    return reply.Compile(rule.reply, pattern.GroupCount());
}

const Command* Library::FindCommand(const std::wstring& name) const
{
    for (const Command& command : commands)
        if (command.name == name)
            return &command;
    return nullptr;
}

std::string WriteLibrary(const Library& library)
{
    Writer w;
    w.Line(L"# Ferrolink library: commands, sequences and responder rules.");
    w.Line(L"# A value runs from just after \"=\" to the end of its line; a text's");
    w.Line(L"# further lines follow as \"Text+=\". Lines that begin with # are notes.");
    for (const Command& command : library.commands) {
        w.Line(L"");
        w.Line(L"[Command]");
        w.Key(L"Name", command.name);
        if (!command.group.empty())
            w.Key(L"Group", command.group);
        if (command.shortcut.key)
            w.Key(L"Shortcut", ShortcutText(command.shortcut));
        w.Payload(command.payload);
    }
    for (const Sequence& sequence : library.sequences) {
        w.Line(L"");
        w.Line(L"[Sequence]");
        w.Key(L"Name", sequence.name);
        w.Key(L"Rounds", std::to_wstring(sequence.rounds));
        for (const Step& step : sequence.steps)
            w.Key(L"Step", StepText(step));
    }
    for (const ResponderRule& rule : library.rules) {
        w.Line(L"");
        w.Line(L"[Rule]");
        w.Key(L"Name", rule.name);
        w.Key(L"Enabled", FlagWord(rule.enabled));
        w.Key(L"Match", std::wstring(MatchKindName(rule.match)) + L" " + rule.pattern);
        w.Payload(rule.reply);
        w.Key(L"Delay", std::to_wstring(rule.delayMs));
        w.Key(L"GoOn", FlagWord(rule.goOn));
    }
    const std::vector<uint8_t> bytes = EncodeUtf8(w.out);
    return std::string(bytes.begin(), bytes.end());
}

namespace {

// One block of the file as it is read.
struct Block {
    enum class Kind { None, Command, Sequence, Rule } kind = Kind::None;
    size_t line = 0; // its header's
    std::set<std::wstring> keys;
    bool payloadSeen = false;
    size_t textLine = 0; // the last Text= or Text+=, for a Text+= that follows
};

bool StrictUtf8(const std::string& bytes, std::wstring& text)
{
    if (bytes.empty()) {
        text.clear();
        return true;
    }
    const int size = int(bytes.size());
    const int chars = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (chars <= 0)
        return false;
    text.resize(size_t(chars));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), chars);
    return true;
}

} // namespace

static std::wstring ReadLibraryText(const std::string& utf8, Library& library);

std::wstring ReadLibrary(const std::string& utf8, Library& library)
{
    // Nothing read may end the program: a file that cannot be taken is refused.
    try {
        return ReadLibraryText(utf8, library);
    } catch (const std::exception&) {
        return L"The file could not be read as a library (out of memory, or a pattern too complex).";
    }
}

static std::wstring ReadLibraryText(const std::string& utf8, Library& library)
{
    if (utf8.size() > (size_t(64) << 20))
        return L"The file is larger than 64 MB; a library is a few kilobytes.";
    std::wstring text;
    if (!StrictUtf8(utf8, text))
        return L"The file is not UTF-8 text.";
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);

    Library read;
    Block block;
    size_t number = 0;
    std::wstring problem;
    const auto fail = [&](const std::wstring& what) {
        problem = L"Line " + std::to_wstring(number) + L": " + what;
        return problem;
    };
    // What a block must hold, checked when it ends.
    const auto finish = [&]() -> bool {
        const size_t at = number;
        number = block.line;
        bool ok = true;
        if (block.kind != Block::Kind::None && !block.keys.count(L"name"))
            ok = (fail(L"the block has no Name."), false);
        else if ((block.kind == Block::Kind::Command || block.kind == Block::Kind::Rule) && !block.payloadSeen)
            ok = (fail(block.kind == Block::Kind::Rule ? L"the rule has no reply (Text= or Hex=)."
                                                       : L"the command has no payload (Text= or Hex=)."),
                  false);
        else if (block.kind == Block::Kind::Rule && !block.keys.count(L"match"))
            ok = (fail(L"the rule has no Match."), false);
        else if (block.kind == Block::Kind::Command) {
            const Command& command = read.commands.back();
            if (const BuiltPayload built = MakePayload(command.payload); !built.problem.empty())
                ok = (fail(built.problem), false);
        } else if (block.kind == Block::Kind::Rule) {
            if (std::wstring why = RuleProblem(read.rules.back()); !why.empty())
                ok = (fail(L"rule \"" + read.rules.back().name + L"\": " + why), false);
        }
        number = at;
        return ok;
    };

    for (const std::wstring& line : SplitLines(text)) {
        ++number;
        const std::wstring trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == L'#' || trimmed[0] == L';')
            continue;
        if (trimmed[0] == L'[') {
            if (!finish())
                return problem;
            const std::wstring header = Lower(trimmed);
            block = Block{};
            block.line = number;
            if (header == L"[command]") {
                block.kind = Block::Kind::Command;
                read.commands.emplace_back();
            } else if (header == L"[sequence]") {
                block.kind = Block::Kind::Sequence;
                read.sequences.emplace_back();
            } else if (header == L"[rule]") {
                block.kind = Block::Kind::Rule;
                read.rules.emplace_back();
            } else {
                return fail(L"\"" + trimmed + L"\" is none of [Command], [Sequence], [Rule].");
            }
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            return fail(L"\"" + trimmed + L"\" is no Key=Value line.");
        if (block.kind == Block::Kind::None)
            return fail(L"\"" + trimmed + L"\" comes before any [Command], [Sequence] or [Rule].");
        const std::wstring key = Lower(TrimBlanks(line.substr(0, equals)));
        const std::wstring raw = line.substr(equals + 1); // as it stands, for texts and patterns
        const std::wstring value = TrimBlanks(raw);
        const bool repeats = key == L"step" || key == L"text+";
        if (!repeats && !block.keys.insert(key).second)
            return fail(L"a second " + TrimBlanks(line.substr(0, equals)) + L" in one block.");

        // The keys every block with a payload shares.
        PayloadForm* payload = block.kind == Block::Kind::Command ? &read.commands.back().payload
                               : block.kind == Block::Kind::Rule  ? &read.rules.back().reply
                                                                  : nullptr;
        if (payload && (key == L"text" || key == L"hex")) {
            if (block.payloadSeen)
                return fail(L"a block has one payload: Text= or Hex=, not both.");
            block.payloadSeen = true;
            payload->hex = key == L"hex";
            payload->text = raw;
            block.textLine = key == L"text" ? number : 0;
            continue;
        }
        if (payload && key == L"text+") {
            if (block.textLine + 1 != number)
                return fail(L"Text+= continues the Text= or Text+= line just above it.");
            payload->text += L"\r\n" + raw;
            block.textLine = number;
            continue;
        }
        if (payload && key == L"escapes") {
            if (!ParseFlag(value, payload->escapes))
                return fail(L"Escapes is yes or no, not \"" + value + L"\".");
            continue;
        }
        if (payload && key == L"ending") {
            if (!ParseEnding(value, payload->ending))
                return fail(L"Ending is None, CR, LF or CRLF, not \"" + value + L"\".");
            continue;
        }
        if (payload && key == L"checksum") {
            if (!ParseChecksum(value, payload->checksum))
                return fail(L"Checksum is None, Sum-8, XOR-8, CRC-16/MODBUS, CRC-16/CCITT-FALSE or CRC-32, not \"" +
                            value + L"\".");
            continue;
        }

        if (key == L"name") {
            if (value.empty())
                return fail(L"the Name is empty.");
            if (block.kind == Block::Kind::Command) {
                if (read.FindCommand(value))
                    return fail(L"a second command named \"" + value + L"\".");
                if (NameLooksLikePayload(value))
                    return fail(L"a command's name cannot begin with \"text:\" or \"hex:\", which a step's payload begins with.");
                read.commands.back().name = value;
            } else if (block.kind == Block::Kind::Sequence) {
                for (size_t i = 0; i + 1 < read.sequences.size(); ++i)
                    if (read.sequences[i].name == value)
                        return fail(L"a second sequence named \"" + value + L"\".");
                read.sequences.back().name = value;
            } else {
                read.rules.back().name = value;
            }
            continue;
        }
        if (block.kind == Block::Kind::Command) {
            Command& command = read.commands.back();
            if (key == L"group") {
                command.group = value;
                continue;
            }
            if (key == L"shortcut") {
                if (!ParseShortcut(value, command.shortcut) || !command.shortcut.key)
                    return fail(L"a Shortcut is F1 to F12, or Shift+F1 to Shift+F12, not \"" + value + L"\".");
                for (size_t i = 0; i + 1 < read.commands.size(); ++i)
                    if (read.commands[i].shortcut == command.shortcut)
                        return fail(ShortcutText(command.shortcut) + L" is already the shortcut of \"" +
                                    read.commands[i].name + L"\".");
                continue;
            }
        } else if (block.kind == Block::Kind::Sequence) {
            Sequence& sequence = read.sequences.back();
            if (key == L"rounds") {
                if (!ParseMs(value, sequence.rounds) || sequence.rounds > 1000000)
                    return fail(L"Rounds is a number from 0 (until stopped) to 1000000, not \"" + value + L"\".");
                continue;
            }
            if (key == L"step") {
                Step step;
                if (std::wstring why = ParseStep(raw, step); !why.empty())
                    return fail(why);
                sequence.steps.push_back(step);
                continue;
            }
        } else {
            ResponderRule& rule = read.rules.back();
            if (key == L"enabled") {
                if (!ParseFlag(value, rule.enabled))
                    return fail(L"Enabled is yes or no, not \"" + value + L"\".");
                continue;
            }
            if (key == L"goon") {
                if (!ParseFlag(value, rule.goOn))
                    return fail(L"GoOn is yes or no, not \"" + value + L"\".");
                continue;
            }
            if (key == L"delay") {
                if (!ParseMs(value, rule.delayMs))
                    return fail(L"Delay is milliseconds from 0 to 86400000, not \"" + value + L"\".");
                continue;
            }
            if (key == L"match") {
                const std::wstring form = raw.substr(raw.find_first_not_of(L" \t") == std::wstring::npos
                                                         ? raw.size()
                                                         : raw.find_first_not_of(L" \t"));
                const size_t blank = form.find(L' ');
                if (blank == std::wstring::npos || !MatchKindFromName(Lower(form.substr(0, blank)), rule.match))
                    return fail(L"Match is exact, contains, hex or regex, a blank, and the pattern.");
                rule.pattern = form.substr(blank + 1);
                continue;
            }
        }
        return fail(L"\"" + TrimBlanks(line.substr(0, equals)) + L"\" is not a key of this block.");
    }
    ++number;
    if (!finish())
        return problem;
    library = std::move(read);
    return L"";
}
