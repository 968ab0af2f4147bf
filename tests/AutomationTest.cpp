#include "automation/Automation.h"
#include "automation/Library.h"
#include "automation/Pattern.h"
#include "automation/ReplyTemplate.h"
#include "automation/Responder.h"
#include "automation/SequenceRunner.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<uint8_t> B(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

bool Match(MatchKind kind, const std::wstring& pattern, const std::vector<uint8_t>& message,
           std::vector<ByteSpan>* groups = nullptr)
{
    Pattern p;
    EXPECT_EQ(p.Compile(kind, pattern), L"") << pattern;
    return p.Matches(message.data(), message.size(), groups);
}

} // namespace

TEST(Pattern, EachKindMatchesWhatItSays)
{
    EXPECT_TRUE(Match(MatchKind::Exact, L"OK\\r\\n", B("OK\r\n")));
    EXPECT_FALSE(Match(MatchKind::Exact, L"OK", B("OK\r\n")));
    EXPECT_TRUE(Match(MatchKind::Contains, L"\\x02", B("a\x02z")));
    EXPECT_FALSE(Match(MatchKind::Contains, L"ok", B("OK")));

    // Wildcards: one byte each, a run of them one group, "*" any run.
    std::vector<ByteSpan> groups;
    const std::vector<uint8_t> modbus = {0x12, 0x34, 0, 0, 0, 6, 1, 3, 0, 0, 0, 10};
    ASSERT_TRUE(Match(MatchKind::Hex, L"?? ?? 00 00 00 06 01 03 *", modbus, &groups));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].from, 0u);
    EXPECT_EQ(groups[1].count, 2u);
    EXPECT_EQ(groups[2].from, 8u);
    EXPECT_EQ(groups[2].count, 4u);
    EXPECT_FALSE(Match(MatchKind::Hex, L"?? ?? 00 00 00 06 01 04 *", modbus));
    EXPECT_FALSE(Match(MatchKind::Hex, L"12 34", modbus)); // the whole message, not its start
    EXPECT_TRUE(Match(MatchKind::Hex, L"12*0A", modbus));
    EXPECT_TRUE(Match(MatchKind::Hex, L"* 03 * 0a", modbus)); // the last "*" backs off to let "0a" end it
    EXPECT_FALSE(Match(MatchKind::Hex, L"* 03 * 0b", modbus));

    ASSERT_TRUE(Match(MatchKind::Regex, L"\\+CSQ: (\\d+),(\\d+)", B("\r\n+CSQ: 17,99\r\n"), &groups));
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[1].from, 8u);
    EXPECT_EQ(groups[1].count, 2u);
    EXPECT_EQ(groups[2].count, 2u);
    // Bytes that are no text are matched as bytes.
    EXPECT_TRUE(Match(MatchKind::Regex, L"^\\x01\\x03.{2}$", {1, 3, 0xFF, 0x80}));

    Pattern bad;
    EXPECT_NE(bad.Compile(MatchKind::Regex, L"(unclosed"), L"");
    EXPECT_NE(bad.Compile(MatchKind::Hex, L"01 0"), L"");
    EXPECT_NE(bad.Compile(MatchKind::Hex, L"0G"), L"");
    EXPECT_NE(bad.Compile(MatchKind::Contains, L""), L"");
    EXPECT_NE(bad.Compile(MatchKind::Exact, L"\\q"), L"");
}

// A search that recursed once per byte over a long message would overrun
// the stack and end the program.
TEST(Pattern, ALongMessageCannotOverrunARegexSearch)
{
    std::vector<uint8_t> long_(Pattern::kRegexMaxBytes, 'a');
    EXPECT_TRUE(Match(MatchKind::Regex, L"^(a|b)*$", long_));
    EXPECT_TRUE(Match(MatchKind::Regex, L"^(a|b)*$", std::vector<uint8_t>(512, 'b')));
    long_.resize(4 << 20, 'a');
    long_.back() = 'c';
    EXPECT_FALSE(Match(MatchKind::Regex, L"^(a|b)*c", long_)); // looked for no further than its bound

    // One that backtracks without end is given up on in its time, and set
    // aside; a pattern nested too deep is refused.
    Pattern runaway;
    ASSERT_EQ(runaway.Compile(MatchKind::Regex, L"(a+)+$"), L"");
    std::vector<uint8_t> as(40, 'a');
    as.push_back('b');
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(runaway.Matches(as.data(), as.size()));
    EXPECT_TRUE(runaway.GaveUp());
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_FALSE(runaway.Matches(as.data(), 1));
    EXPECT_TRUE(Match(MatchKind::Regex, L"a", as)); // the next search has a thread of its own
    EXPECT_NE(runaway.Compile(MatchKind::Regex, std::wstring(40, L'(') + L"a" + std::wstring(40, L')')), L"");
    EXPECT_NE(runaway.Compile(MatchKind::Regex, std::wstring(1001, L'a')), L"");
}

TEST(ReplyTemplate, CopiesOfTheRequestAndTheChecksumFollowTheSendAreasRules)
{
    // A Modbus/TCP read answered with the request's transaction id.
    Pattern request;
    ASSERT_EQ(request.Compile(MatchKind::Hex, L"?? ?? 00 00 00 06 ?? 03 *"), L"");
    const std::vector<uint8_t> message = {0xAB, 0xCD, 0, 0, 0, 6, 0x11, 3, 0, 0, 0, 2};
    std::vector<ByteSpan> groups;
    ASSERT_TRUE(request.Matches(message.data(), message.size(), &groups));
    ReplyTemplate reply;
    PayloadForm form;
    form.hex = true;
    form.text = L"{1} 00 00 00 07 {@6} 03 04 00 2A 00 2B";
    ASSERT_EQ(reply.Compile(form, request.GroupCount()), L"");
    const BuiltPayload built = reply.Expand(message.data(), message.size(), groups);
    EXPECT_EQ(built.problem, L"");
    EXPECT_EQ(built.bytes, (std::vector<uint8_t>{0xAB, 0xCD, 0, 0, 0, 7, 0x11, 3, 4, 0, 0x2A, 0, 0x2B}));

    // Modbus RTU: the CRC goes after the copied bytes, low byte first.
    form.text = L"{@0-1} 02 00 07";
    form.checksum = Checksum::Crc16Modbus;
    ASSERT_EQ(reply.Compile(form, 0), L"");
    const std::vector<uint8_t> rtu = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(reply.Expand(rtu.data(), rtu.size(), {}).bytes,
              (std::vector<uint8_t>{0x01, 0x03, 0x02, 0x00, 0x07, 0xF9, 0x86}));

    // A text: escapes, a group, "{{", a brace that is text, then the ending.
    Pattern csq;
    ASSERT_EQ(csq.Compile(MatchKind::Regex, L"AT\\+ECHO=(\\w+)"), L"");
    const std::vector<uint8_t> at = B("AT+ECHO=hi");
    ASSERT_TRUE(csq.Matches(at.data(), at.size(), &groups));
    PayloadForm text;
    text.escapes = true;
    text.ending = LineEnding::CrLf;
    text.text = L"{{\"echo\":\"{1}\"}\\tOK{@0-1}{@8-}";
    ASSERT_EQ(reply.Compile(text, csq.GroupCount()), L"");
    EXPECT_EQ(reply.Expand(at.data(), at.size(), groups).bytes, B("{\"echo\":\"hi\"}\tOKAThi\r\n"));

    // What cannot be made is said, not sent cut short.
    form.checksum = Checksum::None;
    form.text = L"{@4-7}";
    ASSERT_EQ(reply.Compile(form, 0), L"");
    const BuiltPayload shortRequest = reply.Expand(rtu.data(), rtu.size(), {});
    EXPECT_TRUE(shortRequest.bytes.empty());
    EXPECT_NE(shortRequest.problem.find(L"bytes 4-7"), std::wstring::npos);
    EXPECT_NE(reply.Compile(PayloadForm{true, L"{2}"}, 1), L"");
    EXPECT_NE(reply.Compile(PayloadForm{true, L"01 {x}"}, 0), L"");
}

namespace {

// Everything a library can hold, drawn at random, as a user could type it.
Library RandomLibrary(size_t commands, unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](size_t n) { return size_t(random() % n); };
    const std::wstring texts[] = {L"AT",        L"AT+CSQ",   L"hello world ", L"line one\r\nline two", L"",
                                  L"\\x01\\r",  L"\u00e9t\u00e9 \u20ac", L" lead",  L"{\"a\":1}", L"tab\there"};
    Library library;
    for (size_t i = 0; i < commands; ++i) {
        Command command;
        command.name = L"Command " + std::to_wstring(i);
        command.group = i % 3 ? L"Group " + std::to_wstring(i % 7) : L"";
        if (i < 24)
            command.shortcut = Shortcut{int(i % 12) + 1, i >= 12};
        command.payload.hex = pick(3) == 0;
        if (command.payload.hex) {
            command.payload.text = L"01 03 00 " + std::to_wstring(10 + pick(89));
        } else {
            command.payload.text = texts[pick(std::size(texts))];
            command.payload.escapes = command.payload.text.find(L'\\') != std::wstring::npos || pick(2);
            command.payload.ending = LineEnding(pick(4));
        }
        command.payload.checksum = Checksum(pick(kChecksumCount));
        if (command.payload.text.empty() && command.payload.hex)
            command.payload.text = L"00";
        library.commands.push_back(command);
    }
    for (size_t i = 0; i < 20; ++i) {
        Sequence sequence;
        sequence.name = L"Sequence " + std::to_wstring(i);
        sequence.rounds = uint32_t(pick(4));
        const std::wstring steps[] = {L"send Command 1", L"send text: AT\\r\\n", L"send hex: 01 02",
                                      L"wait 20", L"wait up to 500 for contains OK",
                                      L"wait up to 250 or go on for regex ^\\+CSQ: (\\d+) ",
                                      L"wait up to 100 for hex 01 03 ?? *", L"wait up to 7 for exact OK\\r\\n"};
        for (size_t s = 0, n = 1 + pick(6); s < n; ++s) {
            Step step;
            EXPECT_EQ(ParseStep(steps[pick(std::size(steps))], step), L"");
            sequence.steps.push_back(step);
        }
        library.sequences.push_back(sequence);
    }
    for (size_t i = 0; i < 20; ++i) {
        ResponderRule rule;
        rule.name = L"Rule " + std::to_wstring(i);
        rule.enabled = pick(2);
        rule.goOn = pick(2);
        rule.delayMs = uint32_t(pick(3) * 50);
        rule.match = MatchKind(pick(4));
        rule.pattern = rule.match == MatchKind::Hex ? L"?? ?? 00 00 *" : L"PING";
        rule.reply.hex = rule.match == MatchKind::Hex;
        rule.reply.text = rule.reply.hex ? L"{1} 00 00 {2}" : L"PONG {*}\\r\\n";
        rule.reply.escapes = !rule.reply.hex;
        rule.reply.checksum = Checksum(pick(kChecksumCount));
        library.rules.push_back(rule);
    }
    return library;
}

} // namespace

TEST(LibraryFile, FiveHundredCommandsExportImportAndExportAgainByteForByte)
{
    const Library library = RandomLibrary(500, 7);
    const std::string once = WriteLibrary(library);
    Library read;
    ASSERT_EQ(ReadLibrary(once, read), L"");
    EXPECT_EQ(read, library);
    EXPECT_EQ(WriteLibrary(read), once);
    // A person's edit: notes, blank lines, LF endings, a BOM, blanks around keys.
    std::string edited = "\xEF\xBB\xBF# mine\n\n[command]\n  Name = Mine \nText=hi\nEnding = crlf\n";
    Library mine;
    ASSERT_EQ(ReadLibrary(edited, mine), L"");
    ASSERT_EQ(mine.commands.size(), 1u);
    EXPECT_EQ(mine.commands[0].name, L"Mine");
    EXPECT_EQ(MakePayload(mine.commands[0].payload).bytes, B("hi\r\n"));
}

TEST(LibraryFile, AMalformedFileNamesItsLineAndLeavesTheLibraryAsItWas)
{
    const Library before = RandomLibrary(3, 1);
    const struct {
        const char* file;
        const wchar_t* says;
    } cases[] = {
        {"[Command]\nName=A\nHex=01 0Z\n", L"Line 1: "},
        {"[Command]\nName=A\nText=x\n\n[Command]\nName=A\nText=y\n", L"Line 6: a second command named \"A\""},
        {"[Command]\nName=A\nText=x\nShortcut=F13\n", L"Line 4: a Shortcut is F1 to F12"},
        {"[Command]\nName=A\nText=x\nShortcut=F2\n[Command]\nName=B\nText=y\nShortcut=f2\n", L"Line 8: F2 is already"},
        {"[Sequence]\nName=S\nStep=wait up to 10 for fuzzy x\n", L"Line 3: "},
        {"[Sequence]\nName=S\nStep=jump 3\n", L"Line 3: \"jump 3\" is none of"},
        {"[Rule]\nName=R\nMatch=regex (\nText=x\n", L"Line 1: rule \"R\": "},
        {"[Rule]\nName=R\nMatch=hex 01\nHex={3}\n", L"Line 1: rule \"R\": The reply copies group 3"},
        {"Name=A\n", L"Line 1: \"Name=A\" comes before any"},
        {"[Command]\nText=x\n", L"Line 1: the block has no Name."},
        {"[Command]\nName=A\nColour=red\n", L"Line 3: \"Colour\" is not a key"},
        {"[Command]\nName=A\nText+=x\n", L"Line 3: Text+= continues"},
        {"[Macro]\n", L"Line 1: \"[Macro]\" is none of"},
        {"[Command]\nName=A\nText=\xC3\x28\n", L"The file is not UTF-8 text."},
    };
    for (const auto& c : cases) {
        Library library = before;
        const std::wstring problem = ReadLibrary(c.file, library);
        EXPECT_EQ(problem.rfind(c.says, 0), 0u) << c.file << "\n  said: " << std::string(problem.begin(), problem.end());
        EXPECT_EQ(library, before);
    }
}

TEST(Responder, TheFirstMatchAnswersAndARuleMayLetTheNextOnesAnswerToo)
{
    ResponderRule ping{L"ping", true, MatchKind::Contains, L"PING", PayloadForm{false, L"PONG"}};
    ResponderRule any{L"any", true, MatchKind::Regex, L".", PayloadForm{false, L"ANY"}};
    ResponderRule off{L"off", false, MatchKind::Contains, L"PING", PayloadForm{false, L"OFF"}};
    Responder responder;
    responder.SetRules({off, ping, any});
    const std::vector<uint8_t> message = B("PING");
    std::vector<Reply> replies = responder.Answer(message.data(), message.size());
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].rule, 1u);
    EXPECT_EQ(replies[0].payload.bytes, B("PONG"));

    ping.goOn = true;
    responder.SetRules({off, ping, any});
    replies = responder.Answer(message.data(), message.size());
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].payload.bytes, B("ANY"));
    const std::vector<uint8_t> other = B("other");
    EXPECT_EQ(responder.Answer(other.data(), other.size()).size(), 1u);
    EXPECT_EQ(responder.Answer(nullptr, 0).size(), 0u); // left alone
    EXPECT_EQ(responder.Matches(0), 0u);
    EXPECT_EQ(responder.Matches(1), 1u); // its count began again with its edit
    EXPECT_EQ(responder.Matches(2), 2u);
}

namespace {

// The window as a sequence and the responder see it: what was sent, to
// whom, and the lines.
struct FakePort : AutomationPort {
    struct Sent {
        std::vector<uint8_t> bytes;
        SendTag tag;
        uint32_t client;
        std::wstring peer;
    };
    std::vector<Sent> sent;
    std::vector<std::wstring> lines;
    SendResult result = SendResult::Queued;
    SendResult Send(const BuiltPayload& payload, const SendTag& tag) override
    {
        sent.push_back({payload.bytes, tag, 0, L""});
        return result;
    }
    SendResult Answer(uint8_t /*side*/, uint32_t client, const std::wstring& peer, const BuiltPayload& payload,
                      const SendTag& tag) override
    {
        sent.push_back({payload.bytes, tag, client, peer});
        return result;
    }
    void Say(bool error, const std::wstring& text) override { lines.push_back((error ? L"ERR " : L"SYS ") + text); }
};

Sequence MakeSequence(std::initializer_list<const wchar_t*> steps, uint32_t rounds = 1)
{
    Sequence sequence{L"Poll", rounds, {}};
    for (const wchar_t* text : steps) {
        Step step;
        EXPECT_EQ(ParseStep(text, step), L"") << text;
        sequence.steps.push_back(step);
    }
    return sequence;
}

constexpr uint64_t kMs = 1000;

} // namespace

TEST(Sequence, StepsKeepTheirTimeAndEachSaysItsOutcome)
{
    FakePort port;
    Automation automation(port);
    Library library;
    library.commands.push_back(Command{L"Read", L"", PayloadForm{true, L"01 03", false, LineEnding::None,
                                                                Checksum::Crc16Modbus},
                                       Shortcut{}});
    library.sequences.push_back(MakeSequence({L"send Read", L"wait 20", L"send text: AT\\r"}, 3));
    automation.SetLibrary(library);
    ASSERT_TRUE(automation.StartSequence(L"Poll", 1000 * kMs));
    // Each round sends, waits 20 ms from when the wait began, sends again;
    // the send after the wait goes to the link ahead, to leave at its time.
    EXPECT_EQ(automation.Advance(1000 * kMs), 1005 * kMs);
    ASSERT_EQ(port.sent.size(), 1u);
    EXPECT_EQ(port.sent[0].bytes, (std::vector<uint8_t>{1, 3, 0x40, 0x21}));
    EXPECT_EQ(port.sent[0].tag.notBeforeUs, 0u);
    EXPECT_EQ(automation.Advance(1005 * kMs), 1020 * kMs);
    ASSERT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(port.sent[1].bytes, B("AT\r"));
    EXPECT_EQ(port.sent[1].tag.notBeforeUs, 1020 * kMs);
    // Woken late, the next wait still counts from when the last was due.
    EXPECT_EQ(automation.Advance(1021 * kMs), 1025 * kMs);
    EXPECT_EQ(port.sent.size(), 3u);
    EXPECT_EQ(automation.Advance(1024 * kMs), 1025 * kMs); // too early: nothing
    EXPECT_EQ(automation.Advance(1030 * kMs), 1040 * kMs);
    EXPECT_EQ(port.sent[3].tag.notBeforeUs, 1040 * kMs);
    EXPECT_EQ(automation.Advance(1040 * kMs), 1045 * kMs);
    EXPECT_EQ(automation.Advance(1045 * kMs), 1060 * kMs);
    ASSERT_TRUE(port.sent.back().tag.withdrawn);
    EXPECT_FALSE(*port.sent.back().tag.withdrawn);
    EXPECT_EQ(automation.Advance(1060 * kMs), Automation::kNothingDue);
    EXPECT_EQ(port.sent.size(), 6u);
    EXPECT_FALSE(automation.Runner().Running());
    // The line of a send comes once it was written.
    EXPECT_EQ(automation.OnWritten(port.sent[0].tag, 5), L"Sequence \"Poll\" step 1 of 3: sent \"Read\" (4 bytes).");
    EXPECT_EQ(automation.OnWritten(port.sent[0].tag, 5), L""); // once
    EXPECT_EQ(port.lines.front(), L"SYS Sequence \"Poll\" started: 3 steps, 3 rounds.");
    EXPECT_EQ(port.lines[1], L"SYS Sequence \"Poll\" step 2 of 3: waited 20 ms.");
    EXPECT_EQ(port.lines.back(), L"SYS Sequence \"Poll\" ended: 9 steps done, 0 waits met, 0 time-outs.");
}

TEST(Sequence, AWaitForAMessageIsMetTimesOutOrGoesOnAndALinkThatEndsStopsIt)
{
    FakePort port;
    Automation automation(port);
    Library library;
    library.sequences.push_back(MakeSequence({L"send text: AT\\r", L"wait up to 100 for regex ^OK",
                                              L"wait up to 50 or go on for contains ERROR",
                                              L"wait up to 100 for exact DONE"}));
    automation.SetLibrary(library);
    automation.StartSequence(L"Poll", 0);
    EXPECT_EQ(automation.Advance(0), 100 * kMs);
    automation.OnWritten(port.sent[0].tag, 1'000'000);
    const std::vector<uint8_t> early = B("BUSY"), ok = B("OK\r\n");
    automation.OnMessage(early.data(), early.size(), 0, L"", 1'001'000, 1 * kMs); // matches nothing awaited
    EXPECT_EQ(automation.Advance(2 * kMs), 100 * kMs);
    automation.OnMessage(ok.data(), ok.size(), 0, L"", 1'012'345, 13 * kMs);
    EXPECT_EQ(port.lines.back(),
              L"SYS Sequence \"Poll\" step 2 of 4: regex \"^OK\" came 12.345 ms after the last send was written.");
    EXPECT_EQ(automation.Advance(13 * kMs), 63 * kMs); // the next wait began as the reply came
    EXPECT_EQ(automation.Advance(63 * kMs), 163 * kMs);
    EXPECT_EQ(port.lines.back(),
              L"SYS Sequence \"Poll\" step 3 of 4: no message matched contains \"ERROR\" within 50 ms; going on.");
    EXPECT_EQ(automation.Advance(163 * kMs), Automation::kNothingDue);
    EXPECT_EQ(port.lines[port.lines.size() - 2],
              L"ERR Sequence \"Poll\" step 4 of 4: no message matched exact \"DONE\" within 100 ms.");
    EXPECT_EQ(port.lines.back(), L"ERR Sequence \"Poll\" stopped at step 4 of 4: a wait timed out. 3 steps done, "
                                 L"1 wait met, 2 time-outs.");

    // Until stopped, and then the link ends.
    library.sequences[0] = MakeSequence({L"send text: x", L"wait 10"}, 0);
    automation.SetLibrary(library);
    automation.StartSequence(L"Poll", 0);
    automation.Advance(0);
    automation.Advance(10 * kMs);
    ASSERT_TRUE(port.sent.back().tag.withdrawn);
    EXPECT_FALSE(*port.sent.back().tag.withdrawn);
    automation.OnLinkEnded();
    EXPECT_TRUE(*port.sent.back().tag.withdrawn); // handed over ahead, taken back with the stop
    EXPECT_FALSE(automation.Runner().Running());
    EXPECT_EQ(port.lines.back(), L"ERR Sequence \"Poll\" stopped at step 2 of 2, round 2: the link has ended. "
                                 L"3 steps done, 0 waits met, 0 time-outs.");
    EXPECT_EQ(automation.Advance(20 * kMs), Automation::kNothingDue);

    // A send the link refuses stops it at once, and a round that never
    // waits gives the window back.
    port.result = SendResult::BackedUp;
    automation.StartSequence(L"Poll", 0);
    automation.Advance(0);
    EXPECT_NE(port.lines.back().find(L"the link is backed up"), std::wstring::npos);
    port.result = SendResult::Queued;
    library.sequences[0] = MakeSequence({L"send text: x"}, 0);
    automation.SetLibrary(library);
    automation.StartSequence(L"Poll", 0);
    const size_t before = port.sent.size();
    EXPECT_EQ(automation.Advance(5), 5u);
    EXPECT_EQ(port.sent.size() - before, SequenceRunner::kStepsPerTurn);
    automation.StopSequence(L"stopped by the user");
}

TEST(Responder, EachRequestIsAnsweredToItsOwnPeerAfterItsDelayAndItsLineSaysWhichRuleAndHowLong)
{
    FakePort port;
    Automation automation(port);
    Library library;
    library.rules.push_back(ResponderRule{L"echo", true, MatchKind::Regex, L"^ID=(\\d+)",
                                          PayloadForm{false, L"ACK {1}\\n", true}});
    library.rules.push_back(ResponderRule{L"slow", true, MatchKind::Contains, L"SLOW", PayloadForm{false, L"LATE"},
                                          250});
    automation.SetLibrary(library);
    const std::vector<uint8_t> one = B("ID=1"), two = B("ID=22"), slow = B("SLOW");
    automation.OnMessage(one.data(), one.size(), 4, L"127.0.0.1:4000", 1000, 0);
    EXPECT_TRUE(port.sent.empty()); // the responder is off
    automation.SetResponderOn(true);
    automation.OnMessage(one.data(), one.size(), 4, L"127.0.0.1:4000", 1000, 0);
    automation.OnMessage(two.data(), two.size(), 5, L"127.0.0.1:5000", 2000, 0);
    ASSERT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(port.sent[0].bytes, B("ACK 1\n"));
    EXPECT_EQ(port.sent[0].client, 4u);
    EXPECT_EQ(port.sent[1].bytes, B("ACK 22\n"));
    EXPECT_EQ(port.sent[1].peer, L"127.0.0.1:5000");
    EXPECT_EQ(automation.OnWritten(port.sent[1].tag, 2840), L"Rule 1 \"echo\" answered 127.0.0.1:5000 in 0.840 ms.");

    automation.OnMessage(slow.data(), slow.size(), 4, L"127.0.0.1:4000", 3000, 10 * kMs);
    EXPECT_EQ(port.sent.size(), 2u);
    EXPECT_EQ(automation.Advance(11 * kMs), 260 * kMs);
    EXPECT_EQ(automation.Advance(260 * kMs), Automation::kNothingDue);
    ASSERT_EQ(port.sent.size(), 3u);
    EXPECT_EQ(port.sent[2].client, 4u);
    EXPECT_EQ(automation.Rules().Matches(0), 2u);
    EXPECT_EQ(automation.Rules().Matches(1), 1u);

    // One that waits its delay when the link ends is said, not sent.
    automation.OnMessage(slow.data(), slow.size(), 4, L"127.0.0.1:4000", 3000, 300 * kMs);
    automation.OnLinkEnded();
    EXPECT_EQ(port.lines.back(), L"SYS 1 delayed reply was not sent: the link has ended.");
    EXPECT_EQ(automation.Advance(600 * kMs), Automation::kNothingDue);
    EXPECT_EQ(port.sent.size(), 3u);
}
