#include "app/Fonts.h"

#include <QStringList>

namespace {

const QString ProportionalName = QStringLiteral("ＭＳ Ｐゴシック");
const QString MonospaceName = QStringLiteral("ＭＳ ゴシック");

void InstallSubstitutions()
{
    static const bool installed = [] {
        QFont::insertSubstitutions(ProportionalName, {QStringLiteral("MS PGothic"), QStringLiteral("Noto Sans CJK JP"),
                                                      QStringLiteral("Noto Sans JP"), QStringLiteral("IPAPGothic"),
                                                      QStringLiteral("sans-serif")});
        QFont::insertSubstitutions(MonospaceName, {QStringLiteral("MS Gothic"), QStringLiteral("Noto Sans Mono CJK JP"),
                                                   QStringLiteral("Noto Sans Mono"), QStringLiteral("IPAGothic"),
                                                   QStringLiteral("monospace")});
        return true;
    }();
    (void)installed;
}

}  // namespace

QFont JapaneseFont(FontFamily family, int pixelSize)
{
    InstallSubstitutions();
    QFont font(family == FontFamily::Monospace ? MonospaceName : ProportionalName);
    font.setPixelSize(pixelSize);
    if (family == FontFamily::Monospace) font.setStyleHint(QFont::Monospace);
    return font;
}
