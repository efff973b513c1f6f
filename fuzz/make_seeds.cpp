// Writes well-formed starting points for the fuzz targets whose inputs are
// hard to reach from nothing: list files and a main database made by the
// program's own storage layer. Usage: fuzz_make_seeds <corpus root>

#include "connectionsettings.h"
#include "daostorage.h"
#include "devicemodel.h"
#include "frame.h"
#include "recordsets.h"
#include "requests.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace parvault;

namespace {

// The target takes one leading byte (bit 0: the file is the main database).
bool WithPrefix(const QString& from, const QString& to, char prefix) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = in.readAll();
    out.write(&prefix, 1);
    out.write(bytes);
    return true;
}

void MakeList(const QString& path, int rows, int typeCode, const QString& name) {
    QFile::remove(path);
    CDaoDatabase db;
    db.Create(path);
    CreateParamsTable(db);
    CreateListHeadTable(db);
    CParametr p(&db);
    p.Open();
    for (int i = 0; i < rows; ++i) {
        p.AddNew();
        p.canal = 1 + i % 3;
        p.param = 10 + i * 7;
        p.index = i % 2;
        p.edizm = 0;
        p.flag_dt = 1;
        p.data = QStringLiteral("12,%1").arg(i);
        p.text = QStringLiteral("Параметр %1").arg(i);
        p.type_spiska = 0;
        p.type_zapros = i % 2;
        p.kod_type_pribor = typeCode;
        p.Update();
    }
    p.Close();
    CMySpisok head(&db);
    head.Open();
    head.AddNew();
    head.kod_type_pribor = typeCode;
    head.name = name;
    head.Update();
    head.Close();
    db.Close();
}

void MakeMain(const QString& path) {
    QFile::remove(path);
    CDaoDatabase db;
    db.Create(path);
    db.Execute(QStringLiteral("CREATE TABLE [ТипыПриборов] ([КодТипаПрибора] LONG, "
                              "[НаимТипаПрибора] TEXT(255), [Последний номер списка] LONG)"));
    db.Execute(QStringLiteral("INSERT INTO [ТипыПриборов] VALUES (5, 'Тепловычислитель', 0), "
                              "(23, 'Корректор', 0), (70, 'Скрытый', 0)"));
    CreateParamsTable(db);
    CParametr p(&db);
    p.Open();
    for (int i = 0; i < 4; ++i) {
        p.AddNew();
        p.canal = 1;
        p.param = 300 + i;
        p.index = 0;
        p.text = QStringLiteral("Шаблон %1").arg(i);
        p.type_zapros = 0;
        p.kod_type_pribor = i % 2 ? 5 : 23;
        p.Update();
    }
    p.Close();
    db.Close();
}

void WriteBytes(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile out(path);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
    const uint16_t crc = Crc16(std::span<const uint8_t>(frame).subspan(2));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

ParamRow Row(int channel, int param, int index, int32_t kind, const QString& value = {}) {
    ParamRow r;
    r.texts[ColCanal] = QString::asprintf("%3d", channel);
    r.texts[ColParam] = QString::asprintf("%4d", param);
    r.texts[ColIndex] = QString::asprintf("%3d", index);
    r.texts[ColValue] = value;
    r.kind = kind;
    return r;
}

// Requests as the program lays them out and the simulator's answers to them.
void MakeFrames(const QString& root) {
    QDir().mkpath(root + "/answer");
    QDir().mkpath(root + "/devsim");
    QDir().mkpath(root + "/ident");
    QDir().mkpath(root + "/settings");
    devsim::ParamTable table;
    QString error;
    table.parse(QStringLiteral("1 52 0 | 12,5 | кг/ч\n1 310 3 | 7 | шт | ro\n"
                               "2 65530 0 | Блок данных\\tстрока 2 | |\n"),
                std::nullopt, &error);
    devsim::DeviceModel model(table, {});
    struct Case {
        const char* name;
        ParamRow row;
        int rowIndex;
        bool write;
        BusAddress address;
    };
    const Case cases[] = {
        {"read", Row(1, 52, 0, KindPlain), 5, false, {}},
        {"read-indexed", Row(1, 310, 3, KindIndexed), 17, false, {}},
        {"read-block", Row(2, 65530, 0, KindDataBlock), 1005, false, {}},
        {"read-unknown", Row(9, 1, 0, KindPlain), 0, false, {}},
        {"write-refused", Row(1, 310, 3, KindIndexed, QStringLiteral("8")), 2, true, {}},
        {"write-ok", Row(1, 52, 0, KindPlain, QStringLiteral("13,0")), 3, true, {}},
        {"read-address", Row(1, 52, 0, KindPlain), 4, false, {true, 0, 16}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> request =
            c.write ? layoutWriteRequest(c.row, c.rowIndex, c.address).frame
                    : layoutReadRequest(c.row, c.rowIndex, c.address);
        const std::vector<uint8_t> whole = WithCrc(request);
        // fuzz_devsim: mode 0 takes the body and adds DLE SOH and the CRC; mode 2 a stream.
        WriteBytes(root + "/devsim/" + c.name + "-body",
                   Cat({request.begin() + 2, request.end()}, {0x00, 0x00, 0x00}));
        WriteBytes(root + "/devsim/" + c.name + "-stream", Cat(whole, {0x40, 0x01, 0x00, 0x02, 0x00, 0x00}));
        const auto reply = model.handleFrame(whole, "udp");
        if (!reply)
            continue;
        // fuzz_answer: mode 0 a raw stream (piece size, row, mode at the end);
        // mode 2 a body made whole with a valid CRC.
        WriteBytes(root + "/answer/" + c.name + "-stream",
                   Cat(reply->bytes, {0x00, 0x10, 0x00, static_cast<uint8_t>(c.rowIndex % 1000 + 2), 0x00}));
        const std::vector<uint8_t> body(reply->bytes.begin() + 2, reply->bytes.end() - 4);
        WriteBytes(root + "/answer/" + c.name + "-body",
                   Cat(body, {0x07, 0x00, static_cast<uint8_t>(c.rowIndex % 1000 + 2), 0x02}));
    }
    // The optical sign-on both ways.
    devsim::StreamDevice device(model, {true, '5'});
    WriteBytes(root + "/ident/ident-line", Cat(device.identLine(), {0x20, 0x00}));
    WriteBytes(root + "/ident/ack", {ACK, 0x01, 0x00});
    WriteBytes(root + "/devsim/sign-on", Cat(Cat(signOnMessage(), optionSelectMessage(5)),
                                             {0x40, 0x00, 0x40, 0x00, 0x01, 0x35, 0x01, 0x02, 0x00, 0x00}));
    // Settings files: the defaults, a short one, and one choosing what does not exist.
    ConnectionSettings s;
    const auto defaults = SerializeSettings(s);
    WriteBytes(root + "/settings/defaults", {defaults.begin(), defaults.end()});
    WriteBytes(root + "/settings/short", {defaults.begin(), defaults.begin() + 9});
    s.portIndex = 70;
    s.speedIndex = -1;
    s.portNumbers[0] = 7;
    s.useIp = 1;
    s.deviceIp = 0x7F000001;
    s.udpPort = 0x1234ABCD;
    const auto odd = SerializeSettings(s);
    WriteBytes(root + "/settings/out-of-range", {odd.begin(), odd.end()});
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <corpus root>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(root + "/listfile");
    const QString tmp = QDir::tempPath() + "/pv-seed.mdb";
    try {
        MakeList(tmp, 3, 5, QStringLiteral("Узел учёта"));
        WithPrefix(tmp, root + "/listfile/list-3rows", 0);
        MakeList(tmp, 0, 23, QString());
        WithPrefix(tmp, root + "/listfile/list-empty", 0);
        MakeMain(tmp);
        WithPrefix(tmp, root + "/listfile/main-database", 1);
    } catch (const CDaoException& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    QFile::remove(tmp);
    MakeFrames(root);
    return 0;
}
