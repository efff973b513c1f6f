-- Demo main database PARVLT2.mdb: invented device types and their template rows.
-- Built at build time by pv_makedb (data/makedb.cpp, data/CMakeLists.txt). Field types are
-- declared so that the program can read them back: LONG = Long, TEXT(255) = Text,
-- LONGTEXT = Memo. Field order is fixed: the program reads by name, other tools by order.
--
-- Channels are 0 (the device as a whole) and 1..2 (measuring inputs). Parameter
-- numbers below 300 are current values, 300 and above settings; kind 0 is a plain
-- parameter, 1 an indexed one (one row per index), 25 a data block.
-- edizm codes: 0 (none), 1 °C, 2 МПа, 3 м3/ч, 4 Гкал, 5 м3, 6 ч, 7 кПа, 8 В, 9 %, 10 мс, 11 А, 12 Гкал/ч, 13 с.

CREATE TABLE [ТипыПриборов] (
  [КодТипаПрибора] LONG,
  [НаимТипаПрибора] TEXT(255),
  [Последний номер списка] LONG
);

CREATE TABLE [Параметры] (
  [canal] LONG,
  [param] LONG,
  [index] LONG,
  [edizm] LONG,
  [flag_dt] LONG,
  [data] TEXT(255),
  [text] LONGTEXT,
  [type_spiska] LONG,
  [type_zapros] LONG,
  [kod_type_pribor] LONG
);

BEGIN;

INSERT INTO [ТипыПриборов] VALUES (2, 'Адаптер сети АС-2', 0);
INSERT INTO [ТипыПриборов] VALUES (5, 'Корректор газа КГ-5', 0);
INSERT INTO [ТипыПриборов] VALUES (20, 'Тепловычислитель ТВ-20', 0);
INSERT INTO [ТипыПриборов] VALUES (21, 'Счётчик воды СВ-21', 0);
INSERT INTO [ТипыПриборов] VALUES (23, 'Регулятор давления РД-23', 0);
INSERT INTO [ТипыПриборов] VALUES (26, 'Модуль ввода-вывода МВ-26', 0);
INSERT INTO [ТипыПриборов] VALUES (34, 'Контроллер насосной станции с архивом КНС-34', 0);
INSERT INTO [ТипыПриборов] VALUES (41, 'Теплосчётчик т/э ТС-41', 0);
INSERT INTO [ТипыПриборов] VALUES (70, 'Служебный тип ТС-70 (в дереве не показывается)', 0);

-- 2: Адаптер сети АС-2
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 2);
INSERT INTO [Параметры] VALUES (0, 2, 0, 0, NULL, NULL, 'Версия программы', 0, 0, 2);
INSERT INTO [Параметры] VALUES (0, 8, 0, 0, NULL, NULL, 'Сетевой номер прибора', 0, 0, 2);
INSERT INTO [Параметры] VALUES (0, 300, 0, 0, NULL, NULL, 'Скорость обмена', 0, 0, 2);
INSERT INTO [Параметры] VALUES (0, 301, 0, 10, NULL, NULL, 'Таймаут ответа', 0, 0, 2);

-- 5: Корректор газа КГ-5
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 5);
INSERT INTO [Параметры] VALUES (0, 3, 0, 0, NULL, NULL, 'Дата текущая', 0, 0, 5);
INSERT INTO [Параметры] VALUES (0, 4, 0, 0, NULL, NULL, 'Время текущее', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 20, 0, 2, NULL, NULL, 'Давление газа', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 21, 0, 1, NULL, NULL, 'Температура газа', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 22, 0, 5, NULL, NULL, 'Объём при рабочих условиях', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 23, 0, 5, NULL, NULL, 'Объём при стандартных условиях', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 100, 0, 0, NULL, NULL, 'Коэффициент сжимаемости, точка', 0, 1, 5);
INSERT INTO [Параметры] VALUES (1, 100, 1, 0, NULL, NULL, 'Коэффициент сжимаемости, точка', 0, 1, 5);
INSERT INTO [Параметры] VALUES (1, 100, 2, 0, NULL, NULL, 'Коэффициент сжимаемости, точка', 0, 1, 5);
INSERT INTO [Параметры] VALUES (1, 305, 0, 2, NULL, NULL, 'Подстановочное давление', 0, 0, 5);
INSERT INTO [Параметры] VALUES (1, 306, 0, 1, NULL, NULL, 'Подстановочная температура', 0, 0, 5);
INSERT INTO [Параметры] VALUES (0, 350, 0, 0, NULL, NULL, 'Архив суточный', 0, 25, 5);

-- 20: Тепловычислитель ТВ-20
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 2, 0, 0, NULL, NULL, 'Версия программы', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 3, 0, 0, NULL, NULL, 'Дата текущая', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 4, 0, 0, NULL, NULL, 'Время текущее', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 8, 0, 0, NULL, NULL, 'Сетевой номер прибора', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 301, 0, 0, NULL, NULL, 'Отчётный день месяца', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 302, 0, 0, NULL, NULL, 'Отчётный час суток', 0, 0, 20);
INSERT INTO [Параметры] VALUES (0, 310, 0, 12, NULL, NULL, 'Договорная нагрузка, ввод', 0, 1, 20);
INSERT INTO [Параметры] VALUES (0, 310, 1, 12, NULL, NULL, 'Договорная нагрузка, ввод', 0, 1, 20);
INSERT INTO [Параметры] VALUES (0, 310, 2, 12, NULL, NULL, 'Договорная нагрузка, ввод', 0, 1, 20);
INSERT INTO [Параметры] VALUES (0, 350, 0, 0, NULL, NULL, 'Архив часовой', 0, 25, 20);
INSERT INTO [Параметры] VALUES (1, 10, 0, 1, NULL, NULL, 'Температура в подающем трубопроводе', 0, 0, 20);
INSERT INTO [Параметры] VALUES (1, 11, 0, 1, NULL, NULL, 'Температура в обратном трубопроводе', 0, 0, 20);
INSERT INTO [Параметры] VALUES (1, 12, 0, 3, NULL, NULL, 'Расход теплоносителя', 0, 0, 20);
INSERT INTO [Параметры] VALUES (1, 13, 0, 4, NULL, NULL, 'Тепловая энергия нарастающим итогом', 0, 0, 20);
INSERT INTO [Параметры] VALUES (1, 100, 0, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (1, 100, 1, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (1, 100, 2, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (1, 100, 3, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (1, 320, 0, 3, NULL, NULL, 'Верхняя граница расхода', 0, 0, 20);
INSERT INTO [Параметры] VALUES (2, 10, 0, 1, NULL, NULL, 'Температура в подающем трубопроводе', 0, 0, 20);
INSERT INTO [Параметры] VALUES (2, 11, 0, 1, NULL, NULL, 'Температура в обратном трубопроводе', 0, 0, 20);
INSERT INTO [Параметры] VALUES (2, 12, 0, 3, NULL, NULL, 'Расход теплоносителя', 0, 0, 20);
INSERT INTO [Параметры] VALUES (2, 13, 0, 4, NULL, NULL, 'Тепловая энергия нарастающим итогом', 0, 0, 20);
INSERT INTO [Параметры] VALUES (2, 100, 0, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (2, 100, 1, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (2, 100, 2, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (2, 100, 3, 0, NULL, NULL, 'Константа датчика расхода, точка', 0, 1, 20);
INSERT INTO [Параметры] VALUES (2, 320, 0, 3, NULL, NULL, 'Верхняя граница расхода', 0, 0, 20);

-- 21: Счётчик воды СВ-21
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 21);
INSERT INTO [Параметры] VALUES (1, 12, 0, 3, NULL, NULL, 'Расход воды', 0, 0, 21);
INSERT INTO [Параметры] VALUES (1, 14, 0, 5, NULL, NULL, 'Объём воды нарастающим итогом', 0, 0, 21);
INSERT INTO [Параметры] VALUES (1, 100, 0, 0, NULL, NULL, 'Вес импульса, вход', 0, 1, 21);
INSERT INTO [Параметры] VALUES (1, 100, 1, 0, NULL, NULL, 'Вес импульса, вход', 0, 1, 21);
INSERT INTO [Параметры] VALUES (1, 330, 0, 3, NULL, NULL, 'Отсечка малого расхода', 0, 0, 21);
INSERT INTO [Параметры] VALUES (0, 350, 0, 0, NULL, NULL, 'Архив часовой', 0, 25, 21);

-- 23: Регулятор давления РД-23
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 23);
INSERT INTO [Параметры] VALUES (1, 30, 0, 2, NULL, NULL, 'Давление на входе', 0, 0, 23);
INSERT INTO [Параметры] VALUES (1, 31, 0, 2, NULL, NULL, 'Давление на выходе', 0, 0, 23);
INSERT INTO [Параметры] VALUES (1, 32, 0, 9, NULL, NULL, 'Положение клапана', 0, 0, 23);
INSERT INTO [Параметры] VALUES (1, 110, 0, 0, NULL, NULL, 'Коэффициент ПИД-регулятора', 0, 1, 23);
INSERT INTO [Параметры] VALUES (1, 110, 1, 0, NULL, NULL, 'Коэффициент ПИД-регулятора', 0, 1, 23);
INSERT INTO [Параметры] VALUES (1, 110, 2, 0, NULL, NULL, 'Коэффициент ПИД-регулятора', 0, 1, 23);
INSERT INTO [Параметры] VALUES (1, 110, 3, 0, NULL, NULL, 'Коэффициент ПИД-регулятора', 0, 1, 23);
INSERT INTO [Параметры] VALUES (1, 303, 0, 2, NULL, NULL, 'Уставка давления', 0, 0, 23);
INSERT INTO [Параметры] VALUES (1, 304, 0, 7, NULL, NULL, 'Зона нечувствительности', 0, 0, 23);
INSERT INTO [Параметры] VALUES (0, 351, 0, 0, NULL, NULL, 'Журнал событий', 0, 25, 23);

-- 26: Модуль ввода-вывода МВ-26
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 26);
INSERT INTO [Параметры] VALUES (0, 8, 0, 0, NULL, NULL, 'Сетевой номер прибора', 0, 0, 26);
INSERT INTO [Параметры] VALUES (1, 40, 0, 8, NULL, NULL, 'Напряжение на входе', 0, 0, 26);
INSERT INTO [Параметры] VALUES (2, 40, 0, 8, NULL, NULL, 'Напряжение на входе', 0, 0, 26);
INSERT INTO [Параметры] VALUES (1, 120, 0, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 1, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 2, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 3, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 4, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 5, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 6, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (1, 120, 7, 0, NULL, NULL, 'Состояние дискретного входа', 0, 1, 26);
INSERT INTO [Параметры] VALUES (0, 340, 0, 13, NULL, NULL, 'Период опроса входов', 0, 0, 26);
INSERT INTO [Параметры] VALUES (0, 350, 0, 0, NULL, NULL, 'Буфер событий', 0, 25, 26);

-- 34: Контроллер насосной станции с архивом КНС-34
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 34);
INSERT INTO [Параметры] VALUES (1, 50, 0, 11, NULL, NULL, 'Ток двигателя насоса', 0, 0, 34);
INSERT INTO [Параметры] VALUES (2, 50, 0, 11, NULL, NULL, 'Ток двигателя насоса', 0, 0, 34);
INSERT INTO [Параметры] VALUES (1, 311, 0, 6, NULL, NULL, 'Наработка насоса, счётчик', 0, 1, 34);
INSERT INTO [Параметры] VALUES (1, 311, 1, 6, NULL, NULL, 'Наработка насоса, счётчик', 0, 1, 34);
INSERT INTO [Параметры] VALUES (0, 352, 0, 0, NULL, NULL, 'Архив аварий', 0, 25, 34);

-- 41: Теплосчётчик т/э ТС-41
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 41);
INSERT INTO [Параметры] VALUES (1, 10, 0, 1, NULL, NULL, 'Температура в подающем трубопроводе', 0, 0, 41);
INSERT INTO [Параметры] VALUES (1, 11, 0, 1, NULL, NULL, 'Температура в обратном трубопроводе', 0, 0, 41);
INSERT INTO [Параметры] VALUES (1, 13, 0, 4, NULL, NULL, 'Тепловая энергия нарастающим итогом', 0, 0, 41);
INSERT INTO [Параметры] VALUES (1, 315, 0, 1, NULL, NULL, 'Минимальная разность температур', 0, 0, 41);

-- 70: Служебный тип ТС-70 (в дереве не показывается)
INSERT INTO [Параметры] VALUES (0, 1, 0, 0, NULL, NULL, 'Заводской номер', 0, 0, 70);

COMMIT;
