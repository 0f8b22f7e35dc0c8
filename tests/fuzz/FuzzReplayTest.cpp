// The replay test of one harness: every input of tests/fuzz/corpus/<target>/ (seeds and regression inputs)
// goes through the harness once, so the sanitizer build checks what the fuzzer found without libFuzzer.

#include <QDir>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// "<target>/<file>" lines of corpus/KNOWN_FAILING; '#' starts a comment.
QSet<QString> knownFailing()
{
    QFile file(QStringLiteral(KELVARO_FUZZ_CORPUS_ROOT "/KNOWN_FAILING"));
    QSet<QString> names;
    if (!file.open(QIODevice::ReadOnly))
        return names;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype comment = line.indexOf('#');
        const QByteArray name = (comment < 0 ? line : line.left(comment)).trimmed();
        if (!name.isEmpty())
            names.insert(QString::fromUtf8(name));
    }
    return names;
}

} // namespace

TEST(FuzzReplay, EveryCorpusInputDecodes)
{
    const QString target = QStringLiteral(KELVARO_FUZZ_TARGET);
    const QDir corpus(QStringLiteral(KELVARO_FUZZ_CORPUS_ROOT "/") + target);
    const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty()) << "no corpus in " << qPrintable(corpus.path());
    const QSet<QString> skipped = knownFailing();
    for (const QString& name : files) {
        if (skipped.contains(target + QLatin1Char('/') + name)) {
            std::fprintf(stderr, "skipped (KNOWN_FAILING): %s\n", qPrintable(name));
            continue;
        }
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
        const QByteArray bytes = file.readAll();
        // Named first, so that a crash or a hang says which input it was.
        std::fprintf(stderr, "replaying %s (%lld bytes)\n", qPrintable(name), static_cast<long long>(bytes.size()));
        std::fflush(stderr);
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()), size_t(bytes.size())), 0)
            << qPrintable(name);
    }
}
