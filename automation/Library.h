#pragma once

#include "automation/Pattern.h"
#include "text/Fields.h"
#include "text/Payload.h"

#include <cstdint>
#include <string>
#include <vector>

// A command's key: F1 to F12 (1-12), with or without Shift; 0 for none.
struct Shortcut {
    int key = 0;
    bool shift = false;
    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};
std::wstring ShortcutText(const Shortcut& shortcut); // "Shift+F5", "" for none
bool ParseShortcut(const std::wstring& text, Shortcut& shortcut);

// A payload kept by name, sent with one click.
struct Command {
    std::wstring name;
    std::wstring group;
    PayloadForm payload;
    Shortcut shortcut;
    friend bool operator==(const Command&, const Command&) = default;
};

// One step of a sequence, in the words the editor and the file use:
//   send NAME                      the library's command of that name
//   send text: TEXT                a text with escapes
//   send hex: 01 02                bytes
//   wait MS
//   wait up to MS for KIND PATTERN          a message; stop if none came
//   wait up to MS or go on for KIND PATTERN a message; go on if none came
struct Step {
    enum class Kind { SendCommand, SendPayload, Wait, WaitFor } kind = Kind::Wait;
    std::wstring command;
    PayloadForm payload;
    uint32_t ms = 0;
    MatchKind match = MatchKind::Contains;
    std::wstring pattern;
    bool goOnAfterTimeout = false;
    friend bool operator==(const Step&, const Step&) = default;
};
std::wstring StepText(const Step& step);
// A command's name that a step would read as its payload ("text: …", "hex: …", in any case).
bool NameLooksLikePayload(const std::wstring& name);

// The text's lines, cut at LF with a CR before it dropped, as a file and an
// edit box hold them.
std::vector<std::wstring> SplitLines(const std::wstring& text);
// An empty text when it was taken, else what is wrong with it.
std::wstring ParseStep(const std::wstring& text, Step& step);

struct Sequence {
    std::wstring name;
    uint32_t rounds = 1; // 0: until stopped
    std::vector<Step> steps;
    friend bool operator==(const Sequence&, const Sequence&) = default;
};

// When a received message matches, the reply goes to the peer that sent it.
struct ResponderRule {
    std::wstring name;
    bool enabled = true;
    MatchKind match = MatchKind::Contains;
    std::wstring pattern;
    PayloadForm reply; // a ReplyTemplate
    uint32_t delayMs = 0;
    bool goOn = false; // later rules may answer the same message too
    friend bool operator==(const ResponderRule&, const ResponderRule&) = default;
};
// What is wrong with a rule's pattern or reply; empty when nothing is.
std::wstring RuleProblem(const ResponderRule& rule);

struct Library {
    std::vector<Command> commands;
    std::vector<Sequence> sequences;
    std::vector<ResponderRule> rules;
    const Command* FindCommand(const std::wstring& name) const;
    friend bool operator==(const Library&, const Library&) = default;
};

// The library as a text file a person can read, edit and diff: UTF-8,
// a block per command, sequence and rule. Written the same way every time,
// so a library read back writes the same bytes.
std::string WriteLibrary(const Library& library);
// An empty text when the whole file was taken into `library`; else
// "Line N: what is wrong", and `library` is as it was.
std::wstring ReadLibrary(const std::string& utf8, Library& library);
