// Entry points of the qel subcommands (argv[0] is the subcommand's name).
#pragma once

#include "options.h"

int RunReplay(const TToolCommand& tool, int argc, char** argv);
int RunSettings(const TToolCommand& tool, int argc, char** argv);
int RunCompile(const TToolCommand& tool, int argc, char** argv);
int RunMode(const TToolCommand& tool, int argc, char** argv);
int RunDecode(const TToolCommand& tool, int argc, char** argv);
int RunConnect(const TToolCommand& tool, int argc, char** argv);
int RunExchange(const TToolCommand& tool, int argc, char** argv);
