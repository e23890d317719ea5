// The English and Russian text tables and the money formats.
#include "ui/localisation.h"

#include <atomic>
#include <cstdio>

#include <fmt/format.h>

namespace nb::ui {

namespace {

// Worker threads never read it, but a relaxed atomic costs nothing and keeps
// a stray reader from being a data race.
std::atomic<bool> g_russian{false};

constexpr TextTable k_english = {
    "Nubora", "Servers", "Session", "Settings", "Sign out", "Welcome back", "Sign in to Nubora", "Email address",
    "Password", "Sign in", "Remember me", "Don't have an account?", "Create one", "Please fill in all fields",
    "Invalid email or password", "Create account", "Join Nubora today", "Display name", "I want to",
    "Rent gaming PCs", "Share my gaming PC", "Already have an account?", "Server Browser",
    "Choose a gaming PC to rent", "GPU model", "Min FPS", "Max price (¢/hr)", "Rating", "Price", "Refresh",
    "No servers available", "Online", "In session", "Offline", "Unavailable", "Details", "Back", "Specifications",
    "GPU", "CPU", "RAM", "VRAM", "Max resolution", "Max FPS", "Codecs", "Price / hour", "Total sessions",
    "Rent this PC", "My Session", "Preparing session...", "Establishing connection...", "Streaming",
    "No active session", "Launch stream", "Terminate session", "Ending...", "Cost:", "Duration:",
    "Browse servers", "Session ended", "Language", "Save settings", "Settings saved", "Loading...", "Balance:",
    "MB", "GB", "fps", "—", "Email address", "Password", "Settings", "Sign in"};

constexpr TextTable k_russian = {
    "Nubora", "Серверы", "Сессия", "Настройки", "Выйти", "Добро пожаловать", "Войдите в Nubora", "Почтовый адрес",
    "Пароль", "Войти", "Запомнить меня", "Нет аккаунта?", "Создать", "Заполните все поля",
    "Неверный email или пароль", "Создать аккаунт", "Присоединяйтесь к Nubora", "Имя пользователя", "Хочу",
    "Арендовать игровые ПК", "Сдавать свой ПК", "Уже есть аккаунт?", "Браузер серверов", "Выберите игровой ПК",
    "Модель GPU", "Мин. FPS", "Макс. цена (коп./ч)", "По рейтингу", "По цене", "Обновить", "Серверов нет", "В сети",
    "Занят", "Не в сети", "Недоступен", "Подробнее", "Назад", "Характеристики", "GPU", "CPU", "ОЗУ", "VRAM",
    "Макс. разрешение", "Макс. FPS", "Кодеки", "Цена / час", "Всего сессий", "Арендовать", "Моя сессия",
    "Подготовка...", "Подключение...", "Стриминг", "Активных сессий нет", "Запустить стрим", "Завершить сессию",
    "Завершение...", "Стоимость:", "Длительность:", "К серверам", "Сессия завершена", "Язык", "Сохранить",
    "Настройки сохранены", "Загрузка...", "Баланс:", "МБ", "ГБ", "фпс", "—", "Почтовый адрес", "Пароль",
    "Настройки", "Войти"};

static_assert(k_english[t_text_count - 1] != nullptr && k_russian[t_text_count - 1] != nullptr,
              "every text needs both languages");

// Whole units and cents by integer arithmetic: a double would print
// 0.285 dollars as "0.28" and lose cents above 2^53.
std::string two_decimals(int64_t cents) {
    const bool negative = cents < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : static_cast<uint64_t>(cents);
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%s%llu.%02llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 100), static_cast<unsigned long long>(magnitude % 100));
    return buffer;
}

}  // namespace

bool is_russian() { return g_russian.load(std::memory_order_relaxed); }

void set_language(bool russian) { g_russian.store(russian, std::memory_order_relaxed); }

const TextTable& texts_for(bool russian) { return russian ? k_russian : k_english; }

const TextTable& texts() { return texts_for(is_russian()); }

std::string format_amount(int64_t cents, bool russian) {
    return russian ? two_decimals(cents) + " руб." : fmt::format("${}", two_decimals(cents));
}

std::string format_price_per_hour(int64_t cents, bool russian) {
    return russian ? two_decimals(cents) + " руб./ч" : fmt::format("${}/hr", two_decimals(cents));
}

std::string format_amount(int64_t cents) { return format_amount(cents, is_russian()); }

std::string format_price_per_hour(int64_t cents) { return format_price_per_hour(cents, is_russian()); }

}  // namespace nb::ui
