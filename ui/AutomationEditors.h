#pragma once

#include "automation/Library.h"
#include "framework/Dialog.h"

// The editors of one command, sequence and rule. Each starts with the
// value it is given; on OK `Value()` holds what was typed, checked: a
// value that is not taken keeps the editor open and says why.

class CommandEditor : public Dialog {
public:
    // `library`: the others' names and shortcuts, which must stay unique.
    CommandEditor(Command command, const Library& library, size_t self);
    const Command& Value() const { return m_value; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    Command m_value;
    const Library& m_library;
    size_t m_self; // its place in the library; SIZE_MAX for a new one
};

class SequenceEditor : public Dialog {
public:
    SequenceEditor(Sequence sequence, const Library& library, size_t self);
    const Sequence& Value() const { return m_value; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    Sequence m_value;
    const Library& m_library;
    size_t m_self;
};

class RuleEditor : public Dialog {
public:
    explicit RuleEditor(ResponderRule rule);
    const ResponderRule& Value() const { return m_value; }

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    ResponderRule m_value;
};
