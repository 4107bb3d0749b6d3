#include "password.hpp"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace vtcli {

namespace {
void StripLineEnd(std::string *s) {
    while (!s->empty() && (s->back() == '\n' || s->back() == '\r')) s->pop_back();
}
}  // namespace

bool ReadPassword(const std::string &password_file, std::string *password, std::string *error) {
    if (const char *env = std::getenv("VTBOX_PASSWORD")) {
        *password = env;
        return true;
    }
    if (!password_file.empty()) {
        std::ifstream in(password_file);
        if (!in) {
            *error = "cannot read the password file " + password_file;
            return false;
        }
        std::getline(in, *password);
        StripLineEnd(password);
        return true;
    }
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) {
        *error = "no password: set VTBOX_PASSWORD or use --password-file";
        return false;
    }
    const char prompt[] = "Administrator password: ";
    (void)!write(tty, prompt, sizeof prompt - 1);
    termios old{};
    bool restore = tcgetattr(tty, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        tcsetattr(tty, TCSAFLUSH, &quiet);
    }
    std::string line;
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n') line += c;
    if (restore) tcsetattr(tty, TCSAFLUSH, &old);
    (void)!write(tty, "\n", 1);
    close(tty);
    StripLineEnd(&line);
    *password = line;
    return true;
}

}  // namespace vtcli
