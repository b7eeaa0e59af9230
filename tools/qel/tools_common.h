// Entry points of the qel subcommands (argv[0] is the subcommand's name).
#pragma once

int RunReplay(int argc, char** argv);
int RunSettings(int argc, char** argv);
int RunCompile(int argc, char** argv);
int RunMode(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunConnect(int argc, char** argv);
