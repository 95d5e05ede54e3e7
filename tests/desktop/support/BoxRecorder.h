// Answers and records every message box while it lives, in place of the dialogs.
#pragma once

#include "WideText.h"

#include "platform/MessageBox.h"

#include <QList>
#include <QString>

#include <functional>

struct RecordedBox
{
    QString text;
    UINT type = 0;
};

class BoxRecorder final
{
public:
    // `answer` is returned for every box; `onBox` runs while the box would be open.
    explicit BoxRecorder(int answer = IDOK, std::function<void()> onBox = {})
        : m_answer(answer), m_onBox(std::move(onBox)), m_previous(AfxSetMessageBoxHandler(&Answer))
    {
        s_current = this;
    }
    ~BoxRecorder()
    {
        AfxSetMessageBoxHandler(m_previous);
        s_current = nullptr;
    }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    QList<RecordedBox> boxes;

    QStringList Texts() const
    {
        QStringList texts;
        for (const auto& box : boxes)
            texts.append(box.text);
        return texts;
    }

private:
    static int Answer(LPCWSTR text, UINT type)
    {
        s_current->boxes.append({FromWide(text), type});
        if (s_current->m_onBox)
            s_current->m_onBox();
        return s_current->m_answer;
    }

    int m_answer;
    std::function<void()> m_onBox;
    MessageBoxHandler m_previous;
    inline static BoxRecorder* s_current = nullptr;
};
