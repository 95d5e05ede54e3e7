// CSearchDialog: the first tab's page.
#pragma once

#include <QWidget>

class CSearchDialog final : public QWidget
{
    Q_OBJECT

public:
    // `owner` is the main window: it receives the status texts.
    explicit CSearchDialog(QWidget* owner);

    // Makes the page a hidden child of `parent` (the tab control). `templateId` is 107.
    bool Create(unsigned templateId, QWidget* parent);

private:
    QWidget* m_owner;
};
