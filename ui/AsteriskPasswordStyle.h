#pragma once

#include <QProxyStyle>

class QLineEdit;

namespace gm {

// Password fields show every typed character as "*".
class AsteriskPasswordStyle : public QProxyStyle
{
    Q_OBJECT

public:
    int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;

    // Makes edit a password field with "*" for every character.
    static void apply(QLineEdit *edit);
};

} // namespace gm
