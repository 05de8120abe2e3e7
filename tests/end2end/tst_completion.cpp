// MergeFileCli's bash completion as the build made it, driven as bash drives
// it: the words split as bash splits them (at '=' and ':'), the function
// called, and what it offers read back from COMPREPLY.

#include "CliOptions.h"
#include "writers/ImageWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class tst_Completion : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void offers_data();
    void offers();
    void everyOptionIsOffered();
    void registeredForTheProgram();

private:
    // What the completion offers for words, the last being the one completed.
    QStringList complete(const QStringList &words, const QString &extra = QString());
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

QString quoted(QString word)
{
    return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

} // namespace

void tst_Completion::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    for (const char *name : {"app.bin", "app.elf", "boot.hex", "with space.bin", "-dash.bin", "my:file.bin", "two::colons.bin"}) {
        QFile file(dir->filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("images")));
}

void tst_Completion::cleanup()
{
    dir.reset();
}

QStringList tst_Completion::complete(const QStringList &words, const QString &extra)
{
    QStringList array;
    for (const QString &word : words)
        array << quoted(word);
    const QString script = QStringLiteral("source %1 || exit 3\n"
                                          "COMP_WORDS=(MergeFileCli %2)\n"
                                          "COMP_CWORD=%3\n"
                                          "_MergeFileCli\n"
                                          "printf '%s\\n' \"${COMPREPLY[@]}\"\n%4")
                               .arg(quoted(QStringLiteral(MERGEFILE_COMPLETION_PATH)), array.join(QLatin1Char(' ')))
                               .arg(words.size())
                               .arg(extra);
    QProcess bash;
    bash.setWorkingDirectory(dir->path());
    bash.start(QStringLiteral("bash"), {QStringLiteral("--norc"), QStringLiteral("-c"), script});
    if (!bash.waitForFinished(10000) || bash.exitStatus() != QProcess::NormalExit || bash.exitCode() != 0) {
        qWarning("bash: %s", bash.readAllStandardError().constData());
        return {QStringLiteral("(bash failed)")};
    }
    QStringList offered = QString::fromUtf8(bash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    offered.sort();
    return offered;
}

void tst_Completion::offers_data()
{
    QTest::addColumn<QStringList>("words"); // as bash splits them; the last is completed
    QTest::addColumn<QStringList>("offered");

    const QStringList none;
    const QStringList files{QStringLiteral("-dash.bin"), QStringLiteral("app.bin"), QStringLiteral("app.elf"),
                            QStringLiteral("boot.hex"), QStringLiteral("images"), QStringLiteral("my:file.bin"),
                            QStringLiteral("two::colons.bin"), QStringLiteral("with space.bin")};
    // Every registered output format, whatever formats are added.
    QStringList formats = OutputFormats::names();
    formats.sort();

    QTest::newRow("an option by its start") << QStringList{QStringLiteral("--fo")} << QStringList{QStringLiteral("--format")};
    QTest::newRow("options sharing a start")
        << QStringList{QStringLiteral("--f")}
        << QStringList{QStringLiteral("--field"), QStringLiteral("--fill"), QStringLiteral("--flash"), QStringLiteral("--format")};
    QTest::newRow("the output formats") << QStringList{QStringLiteral("--format"), QString()} << formats;
    QTest::newRow("an output format by its start") << QStringList{QStringLiteral("--format"), QStringLiteral("s")}
                                                   << QStringList{QStringLiteral("srec")};
    QTest::newRow("--format= as bash splits it") << QStringList{QStringLiteral("--format"), QStringLiteral("=")} << formats;
    QTest::newRow("--format=h") << QStringList{QStringLiteral("--format"), QStringLiteral("="), QStringLiteral("h")}
                                << QStringList{QStringLiteral("hex")};
    QTest::newRow("input formats") << QStringList{QStringLiteral("--input-format"), QString()}
                                   << QStringList{QStringLiteral("auto"), QStringLiteral("raw")};
    QTest::newRow("field kinds, the address left to type")
        << QStringList{QStringLiteral("--field"), QStringLiteral("crc16")}
        << QStringList{QStringLiteral("crc16-ccitt@"), QStringLiteral("crc16-xmodem@")};
    QTest::newRow("the output's name") << QStringList{QStringLiteral("-o"), QStringLiteral("app.")}
                                       << QStringList{QStringLiteral("app.bin"), QStringLiteral("app.elf")};
    QTest::newRow("a settings file") << QStringList{QStringLiteral("--settings"), QString()} << files;
    QTest::newRow("a map file") << QStringList{QStringLiteral("--map"), QStringLiteral("b")} << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("a file after its address") << QStringList{QStringLiteral("1000"), QString()} << files;
    QTest::newRow("a name with a space") << QStringList{QStringLiteral("1000"), QStringLiteral("w")}
                                         << QStringList{QStringLiteral("with space.bin")};
    QTest::newRow("a file after the own-address dash") << QStringList{QStringLiteral("-"), QStringLiteral("boot")}
                                                       << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("an address: nothing to offer")
        << QStringList{QStringLiteral("1000"), QStringLiteral("app.bin"), QString()} << none;
    QTest::newRow("a file after a slot ADDR:SIZE")
        << QStringList{QStringLiteral("1000"), QStringLiteral(":"), QStringLiteral("8000"), QStringLiteral("app")}
        << QStringList{QStringLiteral("app.bin"), QStringLiteral("app.elf")};
    QTest::newRow("a slot's size: nothing")
        << QStringList{QStringLiteral("1000"), QStringLiteral(":"), QString()} << none;
    QTest::newRow("pairs after options and their values")
        << QStringList{QStringLiteral("-o"), QStringLiteral("out.bin"), QStringLiteral("--format"), QStringLiteral("hex"),
                       QStringLiteral("--layout"), QStringLiteral("1000"), QStringLiteral("app.bin"), QStringLiteral("8000"),
                       QStringLiteral("boot")}
        << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("the second pair's address")
        << QStringList{QStringLiteral("--fill"), QStringLiteral("="), QStringLiteral("00"), QStringLiteral("1000"), QStringLiteral("app.bin"), QString()} << none;
    QTest::newRow("a number value: nothing") << QStringList{QStringLiteral("--base"), QString()} << none;
    // A name with a colon comes in pieces too: what is offered completes the
    // piece after the last colon, which is what bash replaces.
    const QStringList colon{QStringLiteral("file.bin")};
    QTest::newRow("a name with a colon, after its address, by its start")
        << QStringList{QStringLiteral("1000"), QStringLiteral("my")} << QStringList{QStringLiteral("my:file.bin")};
    QTest::newRow("a name with a colon, after the colon")
        << QStringList{QStringLiteral("1000"), QStringLiteral("my"), QStringLiteral(":")} << colon;
    QTest::newRow("a name with a colon, past the colon")
        << QStringList{QStringLiteral("1000"), QStringLiteral("my"), QStringLiteral(":"), QStringLiteral("fi")} << colon;
    QTest::newRow("a name with two colons in a row")
        << QStringList{QStringLiteral("-"), QStringLiteral("two"), QStringLiteral("::"), QStringLiteral("c")}
        << QStringList{QStringLiteral("colons.bin")};
    QTest::newRow("a name with a colon after a slot")
        << QStringList{QStringLiteral("1000"), QStringLiteral(":"), QStringLiteral("8000"), QStringLiteral("my"),
                       QStringLiteral(":"), QStringLiteral("f")}
        << colon;
    QTest::newRow("the address after a name with a colon: nothing")
        << QStringList{QStringLiteral("1000"), QStringLiteral("my"), QStringLiteral(":"), QStringLiteral("file.bin"), QString()}
        << none;
    QTest::newRow("a file after a name with a colon")
        << QStringList{QStringLiteral("1000"), QStringLiteral("my"), QStringLiteral(":"), QStringLiteral("file.bin"),
                       QStringLiteral("2000"), QStringLiteral("bo")}
        << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("a map named with a colon")
        << QStringList{QStringLiteral("--map"), QStringLiteral("my"), QStringLiteral(":"), QStringLiteral("f")} << colon;
    QTest::newRow("--map=my:f as bash splits it")
        << QStringList{QStringLiteral("--map"), QStringLiteral("="), QStringLiteral("my"), QStringLiteral(":"), QStringLiteral("f")}
        << colon;
    QTest::newRow("--map=a as bash splits it")
        << QStringList{QStringLiteral("--map"), QStringLiteral("="), QStringLiteral("a")}
        << QStringList{QStringLiteral("app.bin"), QStringLiteral("app.elf")};
    QTest::newRow("a field's address is part of its value")
        << QStringList{QStringLiteral("--field"), QStringLiteral("crc32"), QStringLiteral("@"), QStringLiteral("2000"),
                       QStringLiteral("1000"), QStringLiteral("b")}
        << QStringList{QStringLiteral("boot.hex")};
    // The commands: given first, their own options and files.
    QTest::newRow("a command by its start") << QStringList{QStringLiteral("co")} << QStringList{QStringLiteral("compare")};
    QTest::newRow("a command's options") << QStringList{QStringLiteral("verify"), QStringLiteral("--")}
                                         << QStringList{QStringLiteral("--help"), QStringLiteral("--json"), QStringLiteral("--key"),
                                                        QStringLiteral("--map")};
    QTest::newRow("sign's own options") << QStringList{QStringLiteral("sign"), QStringLiteral("--fix")}
                                        << QStringList{QStringLiteral("--fix-sig"), QStringLiteral("--fix-sig-pubkey")};
    QTest::newRow("sign's words") << QStringList{QStringLiteral("sign"), QStringLiteral("--vector-to-sign"), QStringLiteral("d")}
                                  << QStringList{QStringLiteral("digest")};
    QTest::newRow("sign's key is a file") << QStringList{QStringLiteral("sign"), QStringLiteral("-k"), QStringLiteral("b")}
                                          << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("a merge's MCUboot words") << QStringList{QStringLiteral("--public-key-format"), QStringLiteral("f")}
                                             << QStringList{QStringLiteral("full")};
    QTest::newRow("sign-only options are not a merge's") << QStringList{QStringLiteral("--fix")} << none;
    QTest::newRow("a command's files") << QStringList{QStringLiteral("compare"), QStringLiteral("app.bin"), QStringLiteral("bo")}
                                       << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("a command's own formats") << QStringList{QStringLiteral("info"), QStringLiteral("--input-format"), QStringLiteral("s")}
                                             << QStringList{QStringLiteral("srec")};
    QTest::newRow("a command's map") << QStringList{QStringLiteral("verify"), QStringLiteral("--map"), QStringLiteral("b")}
                                     << QStringList{QStringLiteral("boot.hex")};
    QTest::newRow("a command's word later is a file")
        << QStringList{QStringLiteral("-o"), QStringLiteral("x.bin"), QStringLiteral("1000"), QStringLiteral("inf")} << none;
    QTest::newRow("after --, a name that starts with a dash is a file")
        << QStringList{QStringLiteral("--"), QStringLiteral("1000"), QStringLiteral("-")}
        << QStringList{QStringLiteral("-dash.bin")};
}

void tst_Completion::offers()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QCOMPARE(complete(words), offered);
}

// A new option needs nothing but its row to be offered, to the merge and to
// each command that takes it.
void tst_Completion::everyOptionIsOffered()
{
    for (const CliCommand &command : cliCommands()) {
        QStringList expected;
        for (const CliOption &option : cliOptionTable()) {
            if (!(option.commands & CliCommand::bit(command.command)))
                continue;
            for (const QString &name : option.names)
                expected << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        }
        expected.sort();
        expected.removeDuplicates();
        const QStringList words = command.word.isEmpty() ? QStringList{QStringLiteral("-")}
                                                         : QStringList{command.word, QStringLiteral("-")};
        QCOMPARE(complete(words), expected);
    }
}

void tst_Completion::registeredForTheProgram()
{
    QCOMPARE(complete({QStringLiteral("--ver")}, QStringLiteral("complete -p MergeFileCli\n")),
             (QStringList{QStringLiteral("--version"), QStringLiteral("complete -F _MergeFileCli MergeFileCli")}));
}

QTEST_GUILESS_MAIN(tst_Completion)
#include "tst_completion.moc"
