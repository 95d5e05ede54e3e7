#include "SearchDialog.h"

CSearchDialog::CSearchDialog(QWidget* owner) : QWidget(nullptr), m_owner(owner)
{
}

bool CSearchDialog::Create(unsigned /*templateId*/, QWidget* parent)
{
    setParent(parent);
    hide();
    return true;
}
