#include "accounts/vdf.h"
#include "TestEnvironment.h"
#include "TestMain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {
// A canonical text of a tree: name{"key":"value",...,child{...}...} with keys and children sorted.
std::string dump(const vdf::object &object)
{
    std::vector<std::string> parts;
    for (const auto &attribute : object.attributes)
        parts.push_back('"' + attribute.first + "\":\"" + attribute.second + '"');
    std::sort(parts.begin(), parts.end());
    std::vector<std::string> children;
    for (const auto &child : object.children)
        children.push_back(dump(*child.second));
    std::sort(children.begin(), children.end());
    parts.insert(parts.end(), children.begin(), children.end());
    std::string text = object.name + '{';
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i ? "," : "") + parts[i];
    return text + '}';
}

// "ok: <tree>" or "error: <message>".
QString read(const std::string &text, const vdf::read_options &options)
{
    try {
        return QStringLiteral("ok: ") +
               QString::fromStdString(dump(vdf::parse(text.data(), text.data() + text.size(), options)));
    } catch (const std::runtime_error &error) {
        return QStringLiteral("error: ") + QString::fromUtf8(error.what());
    }
}

enum Options { Plain = 0, Unescape = 1, IgnoreConditions = 2, SkipIncludes = 4 };

vdf::read_options optionsOf(int flags)
{
    vdf::read_options options;
    options.unescape = flags & Unescape;
    options.ignore_conditions = flags & IgnoreConditions;
    options.skip_includes = flags & SkipIncludes;
    return options;
}
} // namespace

class VdfTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void texts_data();
    void texts();
    void includes_data();
    void includes();
    void includeChainIsBounded();
    void deepNestingNeedsNoDeepStack_data();
    void deepNestingNeedsNoDeepStack();
    void readAll();
    void childHandleOutlivesTree();

private:
    QTemporaryDir dir;
    QString startDir;
};

void VdfTest::initTestCase()
{
    startDir = QDir::currentPath();
    // Includes resolve against the working directory.
    QVERIFY(QDir::setCurrent(dir.path()));
    QVERIFY(writeFile(QStringLiteral("child.vdf"), "c { k v }\n"));
    QVERIFY(writeFile(QStringLiteral("two.vdf"), "a { }\nb { x y }\n"));
    QVERIFY(writeFile(QStringLiteral("cycle-a.vdf"), "a { #include cycle-b.vdf }\n"));
    QVERIFY(writeFile(QStringLiteral("cycle-b.vdf"), "b { #include cycle-a.vdf }\n"));
    QVERIFY(writeFile(QStringLiteral("self.vdf"), "x { #include self.vdf }\n"));
    QVERIFY(writeFile(QStringLiteral("sub/nested.vdf"), "n { #include child.vdf }\n"));
    // One file that includes itself under ten spellings: followed spelling by spelling, 10! chains.
    QByteArray spelt = "x {\n";
    for (int i = 0; i < 10; ++i)
        spelt += "#include " + QByteArray("./").repeated(i) + "spelt.vdf\n";
    QVERIFY(writeFile(QStringLiteral("spelt.vdf"), spelt + "}\n"));
}

void VdfTest::cleanupTestCase()
{
    QDir::setCurrent(startDir);
}

void VdfTest::texts_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("options");
    QTest::addColumn<QString>("expected");

    const auto row = [](const char *name, const QByteArray &text, int options, const char *expected) {
        QTest::newRow(name) << text << options << QString::fromUtf8(expected);
    };
    row("empty", "", Plain, "ok: {}");
    row("comments only", " // line\n /* block */ \t", Plain, "ok: {}");
    row("users", "users { 1 { a b } 2 { } }", Plain, "ok: users{1{\"a\":\"b\"},2{}}");
    row("steam file", "\"users\"\n{\n\t\"7656\"\n\t{\n\t\t\"PersonaName\"\t\t\"Ann B\"\n\t}\n}\n", Unescape,
        "ok: users{7656{\"PersonaName\":\"Ann B\"}}");
    row("two roots", "x { } y { }", Plain, "ok: {x{},y{}}");
    row("duplicate child first wins", "x { } x { k v }", Plain, "ok: {x{}}");
    row("duplicate nested child first wins", "o { c { a 1 } c { b 2 } }", Plain, "ok: o{c{\"a\":\"1\"}}");
    row("duplicate key first wins", "o { k 1 k 2 }", Plain, "ok: o{\"k\":\"1\"}");
    row("brace inside token", "o { p{ k v } }", Plain, "ok: o{\"p{\":\"k\",\"v\":\"}\"}");
    row("brace right after key is its value", "o { k }", Plain, "ok: {}");
    row("quote inside unquoted token", "o { a\"b c }", Plain, "ok: o{\"a\"b\":\"c\"}");
    row("slashes inside unquoted token", "o { x//y z }", Plain, "ok: o{\"x//y\":\"z\"}");
    row("condition holds", "o { k v [$WIN32] }", Plain, "ok: o{\"k\":\"v\"}");
    row("condition negated", "o { k v [!$WIN32] }", Plain, "ok: o{}");
    row("windows condition", "o { k v [$WINDOWS] }", Plain, "ok: o{\"k\":\"v\"}");
    row("other platform", "o { k v [$X360] }", Plain, "ok: o{}");
    row("other platform negated", "o { k v [!$OSX] }", Plain, "ok: o{\"k\":\"v\"}");
    row("spaces belong to the name", "o { k v [ $WIN32 ] }", Plain, "ok: o{}");
    row("ignored conditions drop", "o { k v [$WIN32] }", IgnoreConditions, "ok: o{}");
    row("ignored conditions keep negated", "o { k v [!$WIN32] }", IgnoreConditions, "ok: o{\"k\":\"v\"}");
    row("false condition after key drops the key", "o { k [!$WIN32] v w }", Plain, "ok: o{\"v\":\"w\"}");
    row("unclosed condition ends the text", "o { k v } p { k v [$WIN32", Plain, "ok: o{\"k\":\"v\"}");
    row("escaped quote", "o { k \"a\\\"b\" }", Unescape, "ok: o{\"k\":\"a\"b\"}");
    row("escaped quote kept without unescape", "o { k \"a\\\"b\" }", Plain, "ok: o{\"k\":\"a\\\"b\"}");
    row("two backslashes", "o { k a\\\\b }", Unescape, "ok: o{\"k\":\"a\\b\"}");
    row("four backslashes", "o { k a\\\\\\\\b }", Unescape, "ok: o{\"k\":\"a\\b\"}");
    row("backslash n unchanged", "o { k a\\nb }", Unescape, "ok: o{\"k\":\"a\\nb\"}");
    row("even backslashes close the quote", "o { k \"a\\\\\" }", Unescape, "ok: o{\"k\":\"a\\\"}");
    row("escaped space joins unquoted token", "o { a\\ b c }", Plain, "ok: o{\"a\\ b\":\"c\"}");
    row("line comment between key and value", "o { k // note\n v }", Plain, "ok: o{\"k\":\"v\"}");
    row("block comment before key", "o { /* note */ k v }", Plain, "ok: o{\"k\":\"v\"}");
    row("line comment swallows the brace", "o { k v // note }", Plain, "ok: {}");
    row("lone slash is skipped", "o { k /v }", Plain, "ok: o{\"k\":\"v\"}");
    row("slash at the very end", "o { k v } /", Plain, "ok: o{\"k\":\"v\"}");
    row("slash right after block opener", "o { /*/ k v */ a b }", Plain, "ok: o{\"a\":\"b\"}");
    row("unterminated block comment", "o { k v } /* open", Plain, "ok: o{\"k\":\"v\"}");
    row("comment then brace", "o { k /* note */ }", Plain, "error: key declared, but no value");
    row("comment then end", "o { k // note", Plain, "error: key declared, but no value");
    row("key at the end", "o { k   ", Plain, "error: key declared, but no value");
    row("unclosed quote", "o { k \"abc }", Plain, "error: quote was opened but not closed.");
    row("unclosed quoted key", "\"o { }", Plain, "error: quote was opened but not closed.");
    row("nul ends the text", QByteArray("a { }\0b { }", 11), Plain, "ok: a{}");
    row("nul after a key", QByteArray("o { k \0\0\0", 9), Plain, "error: key declared, but no value");
    row("unclosed object discarded", "a { } b { c { k v }", Plain, "ok: a{}");
    row("stray closing brace ignored", "} a { k v } }", Plain, "ok: a{\"k\":\"v\"}");
    row("pair outside objects ignored", "k v a { }", Plain, "ok: a{}");
    row("includes skipped", "o { #include child.vdf }", SkipIncludes, "ok: o{}");
}

void VdfTest::texts()
{
    QFETCH(QByteArray, text);
    QFETCH(int, options);
    QFETCH(QString, expected);
    QCOMPARE(read(text.toStdString(), optionsOf(options)), expected);
}

void VdfTest::includes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("adds children") << QByteArray("root { #include child.vdf }") << "ok: root{c{\"k\":\"v\"}}";
    QTest::newRow("base adds children") << QByteArray("root { #base \"child.vdf\" }") << "ok: root{c{\"k\":\"v\"}}";
    QTest::newRow("at top level") << QByteArray("#include two.vdf\nz { }") << "ok: {a{},b{\"x\":\"y\"},z{}}";
    QTest::newRow("cycle cut") << QByteArray("#include cycle-a.vdf") << "ok: a{b{}}";
    QTest::newRow("self include read twice") << readFile(QStringLiteral("self.vdf")) << "ok: x{x{}}";
    QTest::newRow("relative to working directory") << QByteArray("#include sub/nested.vdf") << "ok: n{c{\"k\":\"v\"}}";
    QTest::newRow("same file twice") << QByteArray("a { #include child.vdf } b { #include child.vdf }")
                                     << "ok: {a{c{\"k\":\"v\"}},b{c{\"k\":\"v\"}}}";
    QTest::newRow("self under other spellings") << readFile(QStringLiteral("spelt.vdf")) << "ok: x{x{}}";
    QTest::newRow("more than 256 files in one read")
        << QByteArray("o {\n") + QByteArray("#include child.vdf\n").repeated(257) + "}"
        << "error: more than 256 included files in one read at \"child.vdf\"";
    QTest::newRow("missing file") << QByteArray("o { #include nowhere.vdf }")
                                  << "error: cannot open included file \"nowhere.vdf\"";
}

void VdfTest::includes()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(read(text.toStdString(), optionsOf(Unescape)), expected);
}

void VdfTest::includeChainIsBounded()
{
    // 40 files, each including the next: far deeper than any real configuration.
    for (int i = 0; i < 40; ++i)
        QVERIFY(writeFile(QStringLiteral("chain-%1.vdf").arg(i),
                          QStringLiteral("c%1 { #include chain-%2.vdf }").arg(i).arg(i + 1).toUtf8()));
    const QString result = read("#include chain-0.vdf", optionsOf(Plain));
    QVERIFY2(result.startsWith(QLatin1String("error: includes nested more than 32 levels deep")), qPrintable(result));
}

void VdfTest::deepNestingNeedsNoDeepStack_data()
{
    QTest::addColumn<bool>("closed");
    QTest::newRow("closed") << true;
    QTest::newRow("left open") << false;
}

void VdfTest::deepNestingNeedsNoDeepStack()
{
    QFETCH(bool, closed);
    constexpr int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "a {\n";
    text += "k v\n";
    if (closed)
        text += std::string(depth, '}');

    const vdf::object root = vdf::parse(text.data(), text.data() + text.size(), vdf::read_options());
    int levels = 0;
    const vdf::object *node = &root;
    while (!node->children.empty()) {
        node = node->children.at("a").get();
        ++levels;
    }
    QCOMPARE(levels, closed ? depth - 1 : 0);
    QCOMPARE(node->attributes.count("k"), closed ? std::size_t(1) : std::size_t(0));
}

void VdfTest::readAll()
{
    std::istringstream text("users { }");
    QCOMPARE(vdf::read_all(text), std::string("users { }"));
    std::istringstream empty;
    QCOMPARE(vdf::read_all(empty), std::string());
    std::ifstream closed;
    QVERIFY_EXCEPTION_THROWN(vdf::read_all(closed), std::runtime_error);
    // A folder opens like a file but reports a size no file has.
    std::ifstream folder(dir.path().toStdString());
    QVERIFY_EXCEPTION_THROWN(vdf::read_all(folder), std::runtime_error);
}

void VdfTest::childHandleOutlivesTree()
{
    const std::string text = "users { 1 { PersonaName Ann } }";
    std::shared_ptr<vdf::object> account;
    {
        const vdf::object root = vdf::parse(text.data(), text.data() + text.size(), vdf::read_options());
        account = root.children.at("1");
    }
    QCOMPARE(account->attributes.at("PersonaName"), std::string("Ann"));
}

VIGILOR_GUILESS_TEST_MAIN(VdfTest)
#include "VdfTest.moc"
