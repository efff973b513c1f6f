#pragma once

// What an exchange shows: the display interface the window implements and
// the texts the exchange puts on it.

#include <QString>

#include <vector>

namespace parvault {

// The texts and progress the controller shows; the window implements it.
class ExchangeDisplay {
public:
    virtual ~ExchangeDisplay() = default;
    virtual void setStatusText(const QString& text) = 0;
    virtual void setOpticMark(const QString& text) = 0;
    virtual void setPortStatusText(const QString& text) = 0;
    virtual void setProgressText(const QString& text) = 0;
    virtual void setProgressPos(int position) = 0;
    // Longer explanations behind the short texts; a display without tooltips ignores them.
    virtual void setStatusToolTip(const QString& /*text*/) {}
    virtual void setPortStatusToolTip(const QString& /*text*/) {}
};

// Texts the exchange shows.
namespace texts {
inline const QString Reading = QStringLiteral("Чтение... ");
inline const QString Writing = QStringLiteral("Запись... ");
inline const QString Blank = QStringLiteral(" ");
inline const QString PortBusy = QStringLiteral("Порт занят !");
inline const QString NoPort = QStringLiteral("Нет подключения к порту");
inline const QString Connecting = QStringLiteral("Подключение...");
inline const QString OpticBullet = QStringLiteral("•");
// Fits the status area; the tooltip says which rows.
inline const QString ValueTooLong = QStringLiteral("Длинный текст");
// Why a row read ended with an error when its answer failed its checksum.
inline const QString CrcError = QStringLiteral("ошибка CRC");
inline const QString NoPortChosen = QStringLiteral("Порт или скорость не выбраны в настройках связи");
// Why rows kept their typed values unwritten; rows numbered from 1.
QString ValueTooLongDetail(const std::vector<int>& rows);
QString Done(int percent); // "Выполнено N%"
QString Baud(int baud);    // "Nбод"
} // namespace texts

} // namespace parvault
