#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include "cli/Cli.h"

namespace pixavant::cli {
namespace {

QString readSource(const char* path) {
    QFile file(QStringLiteral(PIXAVANT_SOURCE_DIR "/") + QLatin1String(path));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The options a text names: "-o", "--dpi", "--compression=..." (not "pixavant-lossless" or
// "1-D", whose dash follows a letter or digit).
QSet<QString> optionsIn(const QString& text) {
    QSet<QString> options;
    static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[A-Za-z][\\w-]*)"));
    for (const auto& match : option.globalMatch(text))
        options.insert(match.captured(1));
    return options;
}

bool names(const QString& text, const QString& word) {
    const QRegularExpression whole(
        QStringLiteral("(?<![\\w-])%1(?![\\w-])").arg(QRegularExpression::escape(word)));
    return whole.match(text).hasMatch();
}

// Whoever adds an option or a command to the usage text documents it in the manual page and
// offers it in the bash completion.
TEST(DocumentedOptions, ManualPageAndCompletionCoverTheUsageText) {
    const QString usage = usageText();
    // The manual page spells a dash "\-".
    const QString manual = readSource("data/pixavant.1.in").replace(QLatin1String("\\-"), "-");
    const QString completion = readSource("data/pixavant.bash-completion");
    ASSERT_FALSE(manual.isEmpty());
    ASSERT_FALSE(completion.isEmpty());

    QSet<QString> words = optionsIn(usage);
    EXPECT_TRUE(words.contains("--dpi") && words.contains("-o")) << "the usage text changed form";
    static const QRegularExpression command(QStringLiteral("\\bpixavant ([a-z]+)\\b"));
    for (const auto& match : command.globalMatch(usage))
        words.insert(match.captured(1));
    EXPECT_TRUE(words.contains("convert") && words.contains("info"));

    for (const QString& word : words) {
        EXPECT_TRUE(names(manual, word)) << word.toStdString() << " is not in the manual page";
        EXPECT_TRUE(names(completion, word)) << word.toStdString() << " is not completed";
    }
    // And the manual page documents no option the program does not have.
    for (const QString& option : optionsIn(manual))
        EXPECT_TRUE(names(usage, option)) << option.toStdString() << " is not in the usage text";
}

}  // namespace
}  // namespace pixavant::cli
