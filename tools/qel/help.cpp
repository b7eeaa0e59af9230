#include "help.h"

#include <cstring>

namespace {

const char* const kEmulationText =
    "the terminal type: quorix, vt100, vt220 (also vt220-8bit) or tn3270, in any case. "
    "VT52 is not chosen here: a VT100 host selects it (ESC [ ? 2 h) and ESC < leaves it. "
    "Default: the settings' Emulation (QUORIX without --settings).";
const char* const kSettingsText = "a settings file (.mse) to start from; without it the defaults are used.";
const char* const kOutputText =
    "what is printed: the 24 screen rows (--screen, the default), every scroll-back line (--scrollback) or the "
    "log text (--log); trailing blanks trimmed, bytes 128..255 shown through code page 437.";
const char* const kModeText =
    "the mode definition files: BASE.msg, BASE.mod, ... as written by qel compile. The base may be given with an "
    "extension: line.mod means the base line.";
const char* const kQuietText = "no progress on standard error (it is shown only while standard error is a terminal).";
const char* const kReceiveLimitText =
    "stop a receive the host starts with its transfer sequence once it has stored MB megabytes (1 to 1048576); "
    "what came is kept and a message says so. Default: no limit.";
const char* const kReceiveDirText =
    "let the host's transfer sequence (ESC [ > ... r) receive into DIR, under the file name part of the settings' "
    "Send/Receive File Name (\"received\" when it is empty). Without it every transfer the host starts is refused "
    "(the host is answered N) and nothing is written; sends the host asks for are always refused here.";

std::vector<THelpCommand> MakeCommands() {
  return {
      {"replay",
       "qel replay [--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--telnet] "
       "[--screen|--scrollback|--log] [--answers OUT] [--receive-dir DIR [--receive-limit MB]] [--quiet] FILE|-",
       "Feeds a recorded byte stream through the receive path as if the host had sent it and prints the screen, "
       "the scroll-back or the log.",
       {{"--emulation TYPE", kEmulationText},
        {"--settings F.mse", kSettingsText},
        {"--telnet", "behave as a connected Telnet session (Port Telnet): IAC commands are interpreted and answered."},
        {"--screen | --scrollback | --log", kOutputText},
        {"--answers OUT", "write the bytes the terminal sent back to the host (answer-back, reports) to OUT."},
        {"--receive-dir DIR", kReceiveDirText},
        {"--receive-limit MB", kReceiveLimitText},
        {"--quiet", kQuietText},
        {"FILE | -", "the recording; - reads standard input."}},
       "Ctrl-C stops the replay: what was received so far is printed and the status is 130."},
      {"decode",
       "qel decode --mode BASE [--ornet DIR] [--settings F.mse] [--type M1|M2|M3] [--mini] [--convert-error] "
       "[--pcap OUT.pcap] [--quiet] FILE|-",
       "Decodes a recorded QUORIX trace with the mode files and prints the decoded log text, as trace conversion "
       "in the window shows it.",
       {{"--mode BASE", kModeText},
        {"--ornet DIR", "the directory of the host name files KASP.MSG, KASP.VMI and KASP.BID. Default: none "
                        "(the settings' Ornet Files Directory when --settings is given)."},
        {"--settings F.mse", kSettingsText},
        {"--type M1|M2|M3", "the QUORIX type, which selects the trace header layout. Default: M1 (or the settings' "
                            "QuorixType)."},
        {"--mini", "the input is a MINI trace."},
        {"--convert-error", "also decode messages whose header reports a conversion error."},
        {"--pcap OUT.pcap", "also write every DSS1 message to OUT.pcap (LAPD frames) for Wireshark or tshark."},
        {"--quiet", kQuietText},
        {"FILE | -", "the trace text as the exchange prints it (message headers with DATA, BUFF and UBUF lines); - reads standard input."}},
       "Ctrl-C stops the decoding: what was decoded so far is printed and the status is 130."},
      {"compile", "qel compile SOURCE -o BASE [--kasp DIR] [--quiet]",
       "Compiles a mode source (docs/mode-language.md) into the mode definition files BASE.ver, .msg, .usb, .bid, "
       ".mod, .sem, .syn, .mna, .sen, .sna and .mnt.",
       {{"SOURCE | -", "the mode source; - reads standard input."},
        {"-o BASE", "the base name of the files written; required. BASE must not name a directory."},
        {"--kasp DIR", "where KASP.MSG, KASP.VMI and KASP.BID go when the source names hosts. Default: the "
                       "directory of BASE."},
        {"--quiet", kQuietText}},
       "Faults in the source are reported as FILE:LINE:COLUMN: MESSAGE and nothing is written."},
      {"mode", "qel mode --mode BASE [--hex-sets] NAME",
       "Prints the Display Mode listing of a mode, a set or a constant.",
       {{"--mode BASE", kModeText},
        {"--hex-sets", "show set elements as numbers instead of their names."},
        {"NAME", "the mode, set or constant to list (any case)."}}},
      {"connect",
       "qel connect (--serial DEVICE [--baud N] | --host HOST[:PORT] [--listen [--allow ADDR[/BITS]]...] | "
       "--ssh [USER@]HOST[:PORT] [--identity FILE] [--known-hosts FILE] [--accept-new-host-key]) "
       "[--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--send TEXT]... [--for SECONDS] "
       "[--screen|--scrollback|--log] [--decode --mode BASE [--ornet DIR]] [--receive-dir DIR [--receive-limit MB]]",
       "A session on a real line without a window: opens the line as the window would (Telnet handling included; "
       "none on SSH), types the --send texts, runs until the peer closes or the time is up, and prints the result.",
       {{"--serial DEVICE", "a serial device (/dev/ttyUSB0, a pty) or COM1..COM8."},
        {"--baud N", "the rate: 110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 57600 115200 128000 "
                     "256000. Default: the settings' BaudRate (9600)."},
        {"--host HOST[:PORT]", "a network host; PORT defaults to 23 (Telnet). An IPv6 address is written in "
                               "brackets when a port follows: [::1]:23."},
        {"--listen", "wait for the host to call in on HOST:PORT instead of calling it (every local address, IPv4 "
                     "and IPv6)."},
        {"--allow ADDR[/BITS]", "with --listen: take calls only from this address or network (10.0.0.0/8, "
                                "2001:db8::/32, ::1); may be given many times. A caller outside the list is cut off "
                                "at once and named. Default: the settings' ListenAllow (anyone)."},
        {"--ssh [USER@]HOST[:PORT]", "an SSH session: a shell on HOST with a terminal of the emulation's type and "
                                     "the screen's size. USER defaults to the settings' SshUserName, else the local "
                                     "user; PORT to the settings' SshPort (22). Keys are tried from the agent, then "
                                     "--identity (else ~/.ssh/id_rsa, id_ecdsa, id_ed25519), then keyboard-interactive "
                                     "and password; passphrases and passwords are asked on the terminal."},
        {"--identity FILE", "the private key file for --ssh."},
        {"--known-hosts FILE", "the known_hosts file (OpenSSH's format, hashed names understood) for --ssh. "
                               "Default: the settings' KnownHostsFile, else ~/.ssh/known_hosts."},
        {"--accept-new-host-key", "a host key that is not yet known is taken and stored. Without it such a key ends "
                                  "the run, with its SHA256 fingerprint. A key that differs from the known one is "
                                  "always refused."},
        {"--emulation TYPE", kEmulationText},
        {"--settings F.mse", kSettingsText},
        {"--send TEXT", "typed through the keyboard path, in soft-key notation: <CR>, <P:20> (a pause of 2 s), "
                        "<27> (a byte). May be given many times."},
        {"--for SECONDS", "stop after this long. Default: run until the peer closes (or Ctrl-C)."},
        {"--screen | --scrollback | --log", kOutputText},
        {"--decode", "trace conversion on (QUORIX only); the log is printed unless another view is chosen."},
        {"--mode BASE", kModeText},
        {"--ornet DIR", "the directory of KASP.MSG, KASP.VMI and KASP.BID for --decode."},
        {"--receive-dir DIR", kReceiveDirText},
        {"--receive-limit MB", kReceiveLimitText}},
       "A line that cannot be opened, a refused or changed host key, an authentication that fails, a host name "
       "that does not resolve and a refused call each end the run with status 1 and one line naming the host and "
       "the reason."},
      {"exchange",
       "qel exchange (--listen HOST:PORT | --serial DEVICE [--pads-dir DIR [--corrupt-check N] [--drop-frame N] "
       "[--nak N] [--stall N] [--stall-ms MS] [--pads-block N]]) [--log FILE] [--samples DIR]",
       "A simulated exchange host for demos and tests: a Telnet monitor on a port (one session at a time) or plain "
       "bytes on a tty, until it is stopped.",
       {{"--listen HOST:PORT", "listen on HOST:PORT, :PORT or PORT (HOST defaults to 127.0.0.1)."},
        {"--serial DEVICE", "serve on a tty (a pty or a serial port) instead."},
        {"--log FILE", "log what the terminal sends."},
        {"--samples DIR", "where the sample traces come from. Default: the samples beside the tool."},
        {"--pads-dir DIR", "with --serial: answer \"PAD\" as the PADS file server, files kept in DIR."},
        {"--corrupt-check N", "PADS: give the Nth frame sent a wrong check byte."},
        {"--drop-frame N", "PADS: leave out the Nth frame."},
        {"--nak N", "PADS: answer the Nth header received with NAK."},
        {"--stall N", "PADS: stop halfway through the Nth frame for --stall-ms milliseconds."},
        {"--stall-ms MS", "PADS: how long a stalled frame waits (default 1500)."},
        {"--pads-block N", "PADS: the load and get block size offered to the improved protocol (1..16383, default 4096)."}}},
      {"settings",
       "qel settings [FILE.mse | --defaults] [--get NAME]... [--set NAME=VALUE]... [-o OUT.mse | --in-place]",
       "Reads a settings file (or starts from the defaults), prints fields by name and changes them.",
       {{"FILE.mse", "the settings file to read."},
        {"--defaults", "start from the default settings instead of a file."},
        {"--get NAME", "print NAME=VALUE. Without --get and without --set every field is printed."},
        {"--set NAME=VALUE", "change a field. Values may be given by name where the field has names "
                             "(Emulation=vt100, BaudRate=9600, Parity=none, Port=telnet, EOL=cr-lf) or as numbers."},
        {"-o OUT.mse", "write the result to OUT.mse."},
        {"--in-place", "write the result back into FILE.mse."}},
       "--get and --set are applied in the order given, so a --get after a --set shows the new value. Changes are "
       "written only with -o or --in-place. Every field, its names and its default: docs/settings.md."},
  };
}

void AppendWrapped(std::string& out, const std::string& text, std::size_t indent, std::size_t width) {
  std::size_t column = indent;
  out.append(indent, ' ');
  std::size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, end - at);
    at = end + 1;
    if (word.empty()) continue;
    if (!first && column + 1 + word.size() > width) {
      out += '\n';
      out.append(indent, ' ');
      column = indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
  out += '\n';
}

// Paragraphs of a Notes text.
std::vector<std::string> Paragraphs(const char* notes) {
  std::vector<std::string> out;
  const std::string text = notes;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\n\n", at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

// troff text: a backslash and a leading dot or quote must not act.
std::string Roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string ManHeader(const char* name, const char* summary) {
  return std::string(".TH ") + name + " 1 \"\" \"QelWin " + kQelVersion + "\" \"User Commands\"\n.SH NAME\n" + name +
         " \\- " + Roff(summary) + "\n";
}

const char* const kSerialGroupText =
    "Serial ports (/dev/ttyS*, /dev/ttyUSB*) belong to the group dialout: a user who is not in it cannot open "
    "them. Add yourself with sudo adduser $USER dialout, then log out and in again.";

std::string QelManPage() {
  std::string out = ManHeader("qel", "the QelWin command-line tool: replay, decode, compile, connect, settings");
  out += ".SH SYNOPSIS\n";
  for (const THelpCommand& c : HelpCommands()) out += ".PP\n.B " + Roff(c.Usage) + "\n";
  out += ".PP\n.B qel \\-\\-help\n.br\n.B qel help\n.I COMMAND\n.br\n.B qel \\-\\-version\n";
  out += ".SH DESCRIPTION\n" + Roff(
      "qel runs the terminal's logic without a window: engineers replay recordings, decode traces with mode files, "
      "compile mode sources, script sessions on real lines and read or change settings files.") + "\n";
  for (const THelpCommand& c : HelpCommands()) {
    out += ".SH \"qel " + std::string(c.Name) + "\"\n" + Roff(c.Summary) + "\n";
    for (const THelpOption& o : c.Options) out += ".TP\n.B " + Roff(o.Option) + "\n" + Roff(o.Text) + "\n";
    for (const std::string& p : Paragraphs(c.Notes)) out += ".PP\n" + Roff(p) + "\n";
  }
  out += ".SH \"EXIT STATUS\"\n0 on success, 1 on a failure (one line on standard error names the file and the "
         "reason), 2 on a usage error (what is wrong, then the usage), 130 when stopped by Ctrl\\-C.\n";
  out += ".SH \"SERIAL PORTS\"\n" + Roff(kSerialGroupText) + "\n";
  out += ".SH \"SEE ALSO\"\n.BR qelwin (1)\n";
  return out;
}

const char* const kQelwinUsage =
    "qelwin [--connect serial|network|ssh] [--trace] [--no-background] [--receive-limit MB] [SETTINGS[.mse]]";

const std::vector<THelpOption>& QelwinOptions() {
  static const std::vector<THelpOption> options = {
      {"--connect serial|network|ssh", "connect at start, as Setup|Connect does, on the serial port, or to the "
                                       "network host of the settings by Telnet/TCP or by SSH."},
      {"--trace", "trace conversion on at start, as the CM button does."},
      {"--no-background", "start without the questions about the screen background file."},
      {"--receive-limit MB", kReceiveLimitText},
      {"SETTINGS[.mse]", "the settings file to open; .mse is added when the name has no extension."},
      {"-h, --help", "the usage and where the manual is, on standard output."},
      {"--version", "the version on standard output."}};
  return options;
}

std::string QelwinManPage() {
  std::string out = ManHeader("qelwin", "the QelWin terminal window for telephone-exchange maintenance");
  out += ".SH SYNOPSIS\n.B qelwin\n[\\-\\-connect serial|network|ssh] [\\-\\-trace] [\\-\\-no\\-background] "
         "[\\-\\-receive\\-limit \\fIMB\\fR] [\\fISETTINGS\\fR[.mse]]\n";
  out += ".SH DESCRIPTION\n" + Roff(
      "The terminal window: a serial, Telnet or SSH line to the exchange, QUORIX, VT100, VT220-8bit and TN3270 "
      "emulation (VT52 when the host selects it), an unbounded scroll-back, trace decoding with mode files, file "
      "transfers and soft keys.") + "\n";
  out += ".SH OPTIONS\n";
  for (const THelpOption& o : QelwinOptions()) out += ".TP\n.B " + Roff(o.Option) + "\n" + Roff(o.Text) + "\n";
  out += ".SH ENVIRONMENT\n.TP\n.B QELWIN_HOME\n" +
         Roff("the program directory (QelWin.INI and the other program files); default: the per-user data "
              "directory.") + "\n";
  out += ".SH FILES\n.TP\n.I PREFIX/share/doc/qelwin/manual.html\n" +
         Roff("the user's manual that Help|Help shows (the program holds its own copy), to read in a browser.") +
         "\n.TP\n.I PREFIX/share/qelwin/samples/\n" +
         Roff("the sample exchange's mode files, host name files and traces; demo.mse is a settings file that uses "
              "them.") + "\n";
  out += ".SH \"SERIAL PORTS\"\n" + Roff(kSerialGroupText) + "\n";
  out += ".SH \"SEE ALSO\"\n.BR qel (1)\n";
  return out;
}

}  // namespace

const std::vector<THelpCommand>& HelpCommands() {
  static const std::vector<THelpCommand> commands = MakeCommands();
  return commands;
}

const THelpCommand* FindHelp(const std::string& name) {
  for (const THelpCommand& c : HelpCommands()) {
    if (name == c.Name) return &c;
  }
  return nullptr;
}

std::string OverviewText() {
  std::string out = "qel: the QelWin terminal's logic on the command line.\n\nusage:\n";
  for (const THelpCommand& c : HelpCommands()) out += "  " + std::string(c.Usage) + "\n";
  out += "  qel help COMMAND | qel COMMAND --help\n  qel --version\n\ncommands:\n";
  for (const THelpCommand& c : HelpCommands()) {
    std::string line = "  " + std::string(c.Name);
    line.resize(12, ' ');
    out += line + c.Summary + "\n";
  }
  out += "\n'qel help COMMAND' describes every option of a command; 'man qel' has it all.\n"
         "Exit status: 0 success, 1 failure, 2 usage error, 130 stopped by Ctrl-C.\n";
  return out;
}

std::string CommandHelpText(const THelpCommand& command) {
  std::string out = "usage: " + std::string(command.Usage) + "\n\n";
  AppendWrapped(out, command.Summary, 0, 78);
  out += "\noptions:\n";
  for (const THelpOption& o : command.Options) {
    out += "  " + std::string(o.Option) + "\n";
    AppendWrapped(out, o.Text, 6, 78);
  }
  for (const std::string& p : Paragraphs(command.Notes)) {
    out += "\n";
    AppendWrapped(out, p, 0, 78);
  }
  return out;
}

std::string VersionText() { return std::string("qel ") + kQelVersion + "\n"; }

std::string QelwinHelpText() {
  std::string out = std::string("usage: ") + kQelwinUsage + "\n\n";
  AppendWrapped(out, "The QelWin terminal window for telephone-exchange maintenance.", 0, 78);
  out += "\noptions:\n";
  for (const THelpOption& o : QelwinOptions()) {
    out += "  " + std::string(o.Option) + "\n";
    AppendWrapped(out, o.Text, 6, 78);
  }
  out += "\n";
  AppendWrapped(out, kSerialGroupText, 0, 78);
  return out;
}

std::string QelwinVersionText() { return std::string("qelwin ") + kQelVersion + "\n"; }

std::string ManPage(const std::string& page) {
  if (page == "qel") return QelManPage();
  if (page == "qelwin") return QelwinManPage();
  return {};
}
