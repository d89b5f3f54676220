#include "accounts/AccountsWidget.h"

#include "accounts/vdf.h"
#include "app/HtmlLog.h"
#include "app/PlainTextBox.h"
#include "app/ScanProgress.h"
#include "content/ContentLoader.h"
#include "content/NetworkHelper.h"
#include "platform/FileSystem.h"
#include "ui_AccountsWidget.h"

#include <QFile>
#include <QJsonObject>
#include <QMessageBox>
#include <QUrl>

#include <stdexcept>

namespace {
// Keeps the scan button disabled while a scan runs, however the scan ends: the lookups process
// events while they wait, and a second click would start a scan inside the first.
class ButtonLock
{
public:
    explicit ButtonLock(QWidget *button) : button(button) { button->setEnabled(false); }
    ~ButtonLock() { button->setEnabled(true); }
    ButtonLock(const ButtonLock &) = delete;
    ButtonLock &operator=(const ButtonLock &) = delete;

private:
    QWidget *button;
};

struct BanLookup
{
    bool answered = false;
    QString colour = QStringLiteral("yellow");
    bool vac = false;
    bool community = false;
    int gameBans = 0;
    int daysSinceLastBan = -1; // -1: not told
};

// A field that is there and a whole number from 0 up; -1 otherwise. Older servers send neither.
int countField(const QJsonObject &data, const QString &name)
{
    const QJsonValue value = data.value(name);
    if (!value.isDouble())
        return -1;
    const double number = value.toDouble();
    return number >= 0 && number <= 1e9 && number == static_cast<int>(number) ? static_cast<int>(number) : -1;
}

BanLookup lookUpBans(NetworkHelper &network, const QString &accountKey)
{
    BanLookup result;
    network.reset();
    // The key is the player's text: encoded, it cannot add to or cut the query.
    const QString url = ContentLoader::instance()->serverUrl() + QStringLiteral("bans?account=") +
                        QString::fromLatin1(QUrl::toPercentEncoding(accountKey));
    if (!network.get(url))
        return result;
    const QString reply = network.replyText();
    result.answered = true;
    result.colour = QStringLiteral("green");
    QJsonObject envelope;
    if (!network.parseEnvelope(reply, envelope))
        return result;
    const QJsonObject data = envelope.value(QStringLiteral("data")).toObject();
    result.community = data.value(QStringLiteral("community")).toBool(false);
    result.vac = data.value(QStringLiteral("vac")).toBool(false);
    result.gameBans = qMax(0, countField(data, QStringLiteral("game_bans")));
    result.daysSinceLastBan = countField(data, QStringLiteral("days_since_last_ban"));
    if (result.vac || result.community || result.gameBans > 0)
        result.colour = QStringLiteral("red");
    return result;
}
} // namespace

AccountsWidget::AccountsWidget(QWidget *parent) : QWidget(parent), ui(new Ui::AccountsWidget)
{
    ui->setupUi(this);
    connect(ui->scanButton, &QPushButton::clicked, this, &AccountsWidget::scan);
}

AccountsWidget::~AccountsWidget()
{
    delete ui;
}

void AccountsWidget::updateFoundAmount(int a)
{
    ui->found->setText(tr("Всего найдено: ") + QString::number(a));
}

void AccountsWidget::scan()
{
    checkAccounts(true);
}

void AccountsWidget::checkAccounts(bool showErrors)
{
    // A press while lookups run (their replies are awaited in a nested loop) does nothing.
    if (!ui->scanButton->isEnabled())
        return;
    ButtonLock lock(ui->scanButton);
    stopping = false;
    ui->progressBar->reset();
    ui->log->clear();
    updateFoundAmount(0);
    if (ContentLoader::instance()->steamDir().isEmpty()) {
        if (showErrors)
            QMessageBox::critical(this, tr("Ошибка"), tr("Папка Steam не найдена, опция недоступна"));
        emit accountsNotRead(tr("Папка Steam не найдена"));
    } else {
        lookUpAccounts(showErrors);
    }
    emit accountsChecked();
}

void AccountsWidget::lookUpAccounts(bool showErrors)
{
    const QString path = ContentLoader::instance()->steamDir() + QStringLiteral("/config/loginusers.vdf");
    vdf::object root;
    try {
        // The player's file: only a regular one is opened (a FIFO would never answer), and only so much
        // is read.
        QFile file(path);
        QString ignored;
        if (!platform::openRegularFile(file, ignored))
            throw std::runtime_error(tr("файл не найден или не открывается").toStdString());
        if (file.size() > qint64(vdf::max_text_size))
            throw std::runtime_error("the text is larger than 64 MiB");
        const QByteArray text = file.read(qint64(vdf::max_text_size));
        vdf::read_options options;
        options.unescape = true;
        root = vdf::parse(text.constData(), text.constData() + text.size(), options);
    } catch (const std::exception &error) {
        // A damaged or missing account list is reported, not fatal.
        const QString reason = tr("Не удалось прочитать список аккаунтов Steam из файла %1: %2")
                                   .arg(path, QString::fromUtf8(error.what()));
        if (showErrors)
            showCriticalPlainText(this, tr("Ошибка"), reason);
        emit accountsNotRead(reason);
        return;
    }

    const int accounts = static_cast<int>(root.children.size());
    startScanProgress(ui->progressBar, accounts);
    updateFoundAmount(accounts);

    NetworkHelper network;
    for (const auto &child : root.children) {
        if (stopping)
            break;
        const QString key = QString::fromUtf8(child.first.c_str());
        const auto persona = child.second->attributes.find("PersonaName");
        const QString name =
            persona != child.second->attributes.end() ? QString::fromUtf8(persona->second.c_str()) : QString();
        const BanLookup bans = lookUpBans(network, key);
        // Name and key are the player's own text: escaped, they cannot restyle or hide the line.
        QString line = name.toHtmlEscaped() + QStringLiteral(" ( ") + key.toHtmlEscaped() + QStringLiteral(" ) ") +
                       (bans.vac ? QStringLiteral("[VAC]") : QString()) +
                       (bans.community ? QStringLiteral("[COMMUNITY]") : QString());
        if (bans.gameBans > 0)
            line += QStringLiteral(" [GAME BANS: %1]").arg(bans.gameBans);
        if (bans.daysSinceLastBan >= 0 && (bans.vac || bans.community || bans.gameBans > 0))
            line += tr(" (%1 дн. назад)").arg(bans.daysSinceLastBan);
        appendLogLine(ui->log, bans.colour, line);
        emit accountChecked(key, name, bans.answered, bans.vac, bans.community, bans.gameBans);
        ui->progressBar->setValue(ui->progressBar->value() + 1);
    }
    finishScanProgress(ui->progressBar);
}
