#pragma once
// The window's single-line edit box: a plain line edit that also carries a unit-aware value with
// a range and an optional range-and-unit label. Typing and events are the line edit's own.

#include "units/Ksmartunits.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QString>

class TSmartEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit TSmartEdit(QWidget* parent = nullptr);

    void SetValueType(const QString& dimensionName);
    void SetMinVal(double shown);
    void SetMaxVal(double shown);
    void ShowValueRange();

    // Stores a typed whole number (in shown units) if it is in range; the text always ends up
    // showing the value actually held.
    void SetVal(const QString& text);
    double GetRawVal();
    // Out-of-range numbers are refused silently.
    void SetRawVal(double raw);
    QString GetValUnits() const;

    // Looks the name up in the scheme list given to SetUnitSchemeList (none by default).
    void SetUnitScheme(const QString& schemeName);
    void SetUnitScheme(const korva::KUnitScheme& scheme);

    void UpdateText();
    void UpdateLabel();

    // The label is not owned and may be null; it is forgotten if it is destroyed first.
    void SetLabel(QLabel* label) { label_ = label; }
    QLabel* Label() const { return label_; }
    // Not owned; must outlive the field or be reset to null.
    void SetUnitSchemeList(const korva::KUnitSchemes* schemes) { schemes_ = schemes; }

    const korva::KValue& Value() const { return value_; }

  private:
    korva::KValue value_;
    QPointer<QLabel> label_;
    bool showRange_ = false;
    const korva::KUnitSchemes* schemes_ = nullptr;
};
