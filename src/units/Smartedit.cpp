#include "units/Smartedit.h"

TSmartEdit::TSmartEdit(QWidget* parent) : QLineEdit(parent) {}

void TSmartEdit::SetValueType(const QString& dimensionName) {
    value_.SetDimension(dimensionName.toStdString());
}

void TSmartEdit::SetMinVal(double shown) {
    value_.SetMinShown(shown);
}

void TSmartEdit::SetMaxVal(double shown) {
    value_.SetMaxShown(shown);
}

void TSmartEdit::ShowValueRange() {
    showRange_ = true;
    UpdateLabel();
    UpdateText();
}

void TSmartEdit::SetVal(const QString& text) {
    korva::CommitText(value_, text.toStdString());
    UpdateText();
}

double TSmartEdit::GetRawVal() {
    SetVal(text());
    return value_.GetRaw();
}

void TSmartEdit::SetRawVal(double raw) {
    value_.SetRaw(raw);
    UpdateText();
}

QString TSmartEdit::GetValUnits() const {
    return QString::fromStdString(korva::ValueWithUnit(value_));
}

void TSmartEdit::SetUnitScheme(const QString& schemeName) {
    // A pending entry is stored in raw terms before the unit changes under it.
    SetVal(text());
    value_.SetUnitScheme(schemeName.toStdString(), schemes_);
    UpdateText();
}

void TSmartEdit::SetUnitScheme(const korva::KUnitScheme& scheme) {
    value_.SetUnitScheme(scheme);
}

void TSmartEdit::UpdateText() {
    setText(QString::fromStdString(korva::FormatFixed(value_.GetShown(), 2)));
    UpdateLabel();
}

void TSmartEdit::UpdateLabel() {
    const auto label = korva::RangeUnitText(value_, showRange_);
    if (label && label_) label_->setText(QString::fromStdString(*label));
}
