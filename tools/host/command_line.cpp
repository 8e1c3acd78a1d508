#include "host/command_line.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <tuple>
#include <string_view>
#include <vector>

#include "engine/beds.h"
#include "engine/csv_reader.h"
#include "engine/command_options.h"
#include "engine/error.h"
#include "engine/stage_clock.h"
#include "engine/text.h"

namespace su55if::host {

using engine::Error;
using engine::printable;

namespace {

constexpr std::array<const char *, 4> kCommands{"check", "run", "write-cycle", "help"};

// The number of characters to insert, delete or replace to turn one text
// into the other.
std::size_t editDistance(std::string_view from, std::string_view to) {
    std::vector<std::size_t> row(to.size() + 1);
    for (std::size_t j = 0; j <= to.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= from.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= to.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[to.size()];
}

// "A", "A or B"; empty for none, or for more than two (too many to guess).
std::string eitherOf(const std::vector<std::string> &names) {
    if (names.empty() || names.size() > 2) {
        return {};
    }
    return names.size() == 1 ? names[0] : names[0] + " or " + names[1];
}

// The names that `given` most likely meant: those it begins (`--input` for
// `--input-file`), those whose word begins with its letter (`-o` for
// `--output-file`), else the nearest by spelling, when one is near.
std::string nearestNames(const std::string &given, const std::vector<std::string> &names) {
    const bool letter = given.size() == 2 && given[0] == '-' && given[1] != '-';
    std::vector<std::string> found;
    for (const std::string &name : names) {
        if ((name.size() > given.size() && name.compare(0, given.size(), given) == 0) ||
            (letter && name.size() > 3 && name[0] == '-' && name[1] == '-' && name[2] == given[1])) {
            found.push_back(name);
        }
    }
    if (!found.empty()) {
        return eitherOf(found);
    }
    std::string nearest;
    std::size_t nearestDistance = given.size() / 3 + 1;  // nearer than this, or not at all
    for (const std::string &name : names) {
        const std::size_t distance = editDistance(given, name);
        if (distance < nearestDistance) {
            nearest = name;
            nearestDistance = distance;
        }
    }
    return nearest;
}

std::string helpCommand(const CLI::App &command) {
    return command.get_parent() == nullptr ? "su55if-host --help" : "su55if-host " + command.get_name() + " --help";
}

// What to say of the first option on the command line that `command` does
// not know; empty when every argument left over is a value.
std::string unknownOption(const CLI::App &command) {
    for (const std::string &argument : command.remaining()) {
        if (argument.size() < 2 || argument[0] != '-' || !(argument[1] == '-' || std::isalpha(argument[1]) != 0)) {
            continue;
        }
        const std::string given = argument.substr(0, argument.find('='));
        std::vector<std::string> names;
        for (const CLI::Option *option : command.get_options()) {
            for (const std::string &name : option->get_lnames()) {
                names.push_back("--" + name);
            }
        }
        const std::string nearest = nearestNames(given, names);
        if (!nearest.empty()) {
            return fmt::format("unknown option {}: did you mean {}?", printable(given), nearest);
        }
        return fmt::format("unknown option {}: `{}` lists the options", printable(given), helpCommand(command));
    }
    return {};
}

// What to say of a word where a command belongs: the nearest command, or
// the commands there are.
std::string unknownCommand(const std::string &word) {
    const std::string nearest = nearestNames(word, {kCommands.begin(), kCommands.end()});
    if (!nearest.empty()) {
        return fmt::format("unknown command {}: did you mean {}?", printable(word), nearest);
    }
    const bool file = word.find('.') != std::string::npos || word.find('/') != std::string::npos;
    return fmt::format("unknown command {}: the commands are check and run (`su55if-host help` describes them){}",
                       printable(word),
                       file ? fmt::format("; a cycle file follows the command, as in `su55if-host run {}`",
                                          printable(word))
                            : "");
}

// The first word of the command line that is not an option of the host's
// or an option's value: where the command belongs; empty when an option
// the host does not know comes first.
std::string commandWord(int argc, char **argv, const CLI::App &app) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.empty() || argument[0] != '-') {
            return argument;
        }
        const CLI::Option *option = nullptr;
        try {
            option = app.get_option(argument.substr(0, argument.find('=')));
        } catch (const CLI::OptionNotFound &) {
            return {};
        }
        if (option->get_type_size() > 0 && argument.find('=') == std::string::npos) {
            ++i;  // its value
        }
    }
    return {};
}

// A file name must name something: an empty one is refused, not taken as
// "not given".
const CLI::Validator kFileName(
    [](const std::string &name) { return name.empty() ? std::string("an empty file name names no file") : ""; },
    "");

// The options of every command, given before or after the command's name:
// defined on each, bound to the same variables, so that each help lists
// them.
void addCommonOptions(CLI::App &command, Options &options) {
    command
        .add_option("--library", options.library,
                    "the libsu55if.so to load (default: the first that exists of libsu55if.so beside su55if-host, "
                    "../lib/libsu55if.so and ../lib/libsu55if.so.0 from there, then the one built with it)")
        ->type_name("FILE")
        ->check(kFileName);
    command.add_flag("--log-calls", options.logCalls,
                     "print every library call with its inputs, outputs and status on standard error");
    command.add_flag("-q,--quiet", options.quiet, "no notes or progress on standard error (errors still)");
    command
        .add_option_function<std::string>(
            "--messages",
            [&options](const std::string &format) {
                if (format != "text" && format != "json") {
                    throw Error(fmt::format("--messages {}: messages are text or json", printable(format)));
                }
                options.messagesJson = format == "json";
            },
            "text (default) or json: every message on standard error a JSON object on a line of its own, for "
            "programs")
        ->type_name("FORMAT");
    command
        .add_option("--time-unit", options.run.timeUnit, "the unit of times and durations, a label for tables and charts")
        ->type_name("UNIT");
}

// A time option that was given, read as numbers in files are and checked to
// be usable as a time.
std::optional<double> positiveTime(const char *name, const std::optional<std::string> &text) {
    if (!text) {
        return std::nullopt;
    }
    return engine::positiveTime(name, *text);
}

std::optional<std::uint64_t> cycleCount(const std::optional<std::string> &text) {
    if (!text) {
        return std::nullopt;
    }
    return engine::cycleCount(*text);
}

void checkChartName(const std::string &chartFile) {
    if (!chartFile.empty() && !engine::endsWithIgnoringCase(chartFile, ".svg")) {
        throw Error(fmt::format("--chart {}: the chart is an SVG picture, which any web browser opens; give it a "
                                "name that ends in .svg",
                                printable(chartFile)));
    }
}

// check's --beds, and its --chart, which draws the beds.
void checkBedsOptions(const std::optional<std::string> &beds, Options &options) {
    if (beds) {
        options.check.beds = engine::bedCount(*beds);
    }
    engine::checkChartNeedsBeds(!options.chartFile.empty(), options.check.beds.has_value(), "--chart", "--beds N");
    checkChartName(options.chartFile);
}

// CLI11's own words for a faulty command line, in the host's.
[[noreturn]] void refuse(const CLI::ParseError &error, const CLI::App &app) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ArgumentMismatch *>(&error) != nullptr) {
        const std::string name = what.substr(0, what.find(':'));
        const CLI::Option *option = nullptr;
        for (const CLI::App *command : app.get_subcommands({})) {
            try {
                option = command->get_option(name);
            } catch (const CLI::OptionNotFound &) {
            }
        }
        const std::string type = option != nullptr ? option->get_type_name() : "value";
        throw Error(fmt::format("{} needs a {} after it", printable(name), type.empty() ? "value" : type));
    }
    throw Error(printable(what));
}

// Help was asked for and shown: the exit code to end with.
struct HelpShown {
    int exitCode;
};

// The options of `check` as given, read once every option is known.
struct CheckTexts {
    std::optional<std::string> format;
    std::optional<std::string> beds;
};

// The options of `run` as given, read once every option is known.
struct RunTexts {
    std::optional<std::string> stopTime;  // numbers read as numbers in cycle files are
    std::optional<std::string> cycles;
    std::optional<std::string> outputInterval;
    std::optional<std::string> chartFrom;
    std::optional<std::string> chartTo;
    std::optional<std::string> format;
    std::optional<std::string> beds;
};

CLI::App *addCheckCommand(CLI::App &app, Options &options, CheckTexts &texts) {
    CLI::App *command = app.add_subcommand(
        "check", "define the schedule at time 0, let the library check the interaction table, print a report");
    command->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration[,partner][,name])")
        ->type_name("FILE")
        ->required()
        ->check(kFileName);
    command->add_flag("--twin", options.check.twin, "check with SU55IF_IINTTIM instead of SU55IF_INTTIM");
    command->add_flag("--rows", options.rows,
                      "CYCLE holds the cycle as JSON rows, as programs give it (- for standard input)");
    command->add_option("--format", texts.format, "text (default) or json")->type_name("FORMAT");
    command
        ->add_option("--beds", texts.beds,
                     "N beds run the cycle, each shifted by the cycle duration over N: show each bed's stages and "
                     "whether every link fits")
        ->type_name("N");
    command
        ->add_option("--chart", options.chartFile, "with --beds: write a picture of the beds, in SVG, to FILE.svg")
        ->type_name("FILE")
        ->check(kFileName);
    return command;
}

CLI::App *addRunCommand(CLI::App &app, Options &options, RunTexts &texts) {
    CLI::App *command =
        app.add_subcommand("run", "step time through the cycle and write the timeline the library computes");
    command->add_option("CYCLE", options.cyclePath, "the cycle file (CSV: stage,duration[,partner][,name])")
        ->type_name("FILE")
        ->required()
        ->check(kFileName);
    command->add_option("--stop-time", texts.stopTime, "the last time of the run (default: two cycles)")
        ->type_name("T");
    command
        ->add_option("--cycles", texts.cycles,
                     "run to the end of the Nth cycle, as the durations in force place it (instead of --stop-time)")
        ->type_name("N");
    command
        ->add_option("--output-interval", texts.outputInterval,
                     "the time between samples (default: 1/20 of the shortest stage)")
        ->type_name("DT");
    command->add_flag("--twin", options.run.twin, "use SU55IF_IINTTIM and SU55IF_IACTYP");
    command->add_flag("--rows", options.rows,
                      "CYCLE holds the cycle as JSON rows, as programs give it (- for standard input)");
    command
        ->add_option("--input-file", options.inputFile,
                     "timed inputs (CSV: time, then hold, check, signal, value, limit, enable, durationK)")
        ->type_name("FILE")
        ->check(kFileName);
    command
        ->add_option("--events", options.eventsFile, "duration changes through SU55IF_UPSTGTIM (CSV: time,stage,duration)")
        ->type_name("FILE")
        ->check(kFileName);
    command
        ->add_option("--output-file", options.outputFile,
                     "write the timeline to this file, in the format its name ends in: .csv, .json or .jsonl (JSON "
                     "lines), .txt (the readable table); other names take --format")
        ->type_name("FILE")
        ->check(kFileName);
    command
        ->add_option("--chart", options.chartFile,
                     "write a picture of the cycle and the run, in SVG (any web browser opens it), to FILE.svg")
        ->type_name("FILE")
        ->check(kFileName);
    command->add_option("--chart-from", texts.chartFrom, "with --chart: chart the run from this time on (default: 0)")
        ->type_name("T");
    command
        ->add_option("--chart-to", texts.chartTo,
                     "with --chart: chart the run up to this time (default: the whole run, or its first 10 cycles "
                     "when it passes more than 30)")
        ->type_name("T");
    command
        ->add_option("--beds", texts.beds,
                     "with --chart: draw under the run, for each schedule, N beds each shifted by the cycle duration "
                     "over N")
        ->type_name("N");
    command->add_flag("--table", options.run.table,
                      "print a readable summary and timeline on standard output instead of the CSV");
    command
        ->add_option("--format", texts.format,
                     "csv (default; also called text), json (one JSON object per sample) or binary (a JSON header "
                     "line, then each sample's values as little-endian doubles)")
        ->type_name("FORMAT");
    return command;
}

CLI::App *addWriteCycleCommand(CLI::App &app, Options &options) {
    CLI::App *command = app.add_subcommand(
        "write-cycle", "write a cycle given as JSON rows as a cycle file, keeping the comment lines of its text");
    command->add_option("ROWS", options.cyclePath, "the cycle as JSON rows (- for standard input)")
        ->type_name("FILE")
        ->required()
        ->check(kFileName);
    command->add_option("OUTPUT", options.cycleOutput, "the cycle file to write")
        ->type_name("FILE")
        ->required()
        ->check(kFileName);
    return command;
}

// Parses the command line, saying what is wrong with it in the host's words.
void parse(CLI::App &app, int argc, char **argv, const CLI::App *checkCommand, const CLI::App *runCommand,
           const Options &options) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &error) {
        throw HelpShown{app.exit(error)};
    } catch (const CLI::CallForAllHelp &error) {
        throw HelpShown{app.exit(error)};
    } catch (const CLI::ExtrasError &error) {
        const std::string word = commandWord(argc, argv, app);
        if (!word.empty() && app.get_subcommands().empty()) {
            throw Error(unknownCommand(word));
        }
        for (const CLI::App *command : std::initializer_list<const CLI::App *>{&app, checkCommand, runCommand}) {
            const std::string message = unknownOption(*command);
            if (!message.empty()) {
                throw Error(message);
            }
        }
        for (const CLI::App *command : {checkCommand, runCommand}) {
            if (command->parsed() && !command->remaining().empty()) {
                throw Error(fmt::format("unexpected argument {}: {} takes one cycle file (`{}` lists the options)",
                                        printable(command->remaining().front()), command->get_name(),
                                        helpCommand(*command)));
            }
        }
        refuse(error, app);
    } catch (const CLI::RequiredError &error) {
        for (const CLI::App *command : {checkCommand, runCommand}) {
            if (command->parsed() && options.cyclePath.empty()) {
                throw Error(fmt::format("{0} needs a cycle file: su55if-host {0} CYCLE.csv (`su55if-host {0} --help` "
                                        "lists the options)",
                                        command->get_name()));
            }
        }
        refuse(error, app);
    } catch (const CLI::ParseError &error) {
        refuse(error, app);
    }
}

// `su55if-host help [COMMAND]`.
int showHelp(CLI::App &app, const std::string &topic) {
    if (topic.empty()) {
        std::fputs(app.get_formatter()->make_help(&app, "su55if-host", CLI::AppFormatMode::Normal).c_str(), stdout);
    } else if (topic == "check" || topic == "run" || topic == "write-cycle") {
        std::fputs(app.get_subcommand(topic)->help("su55if-host").c_str(), stdout);
    } else {
        throw Error(unknownCommand(topic));
    }
    return engine::kExitOk;
}

// The run's options read from their texts, as the engine judges them.
void readRunOptions(Options &options, const RunTexts &texts) {
    engine::RunOptions &run = options.run;
    run.stopTime = positiveTime("--stop-time", texts.stopTime);
    run.outputInterval = positiveTime("--output-interval", texts.outputInterval);
    run.cycles = cycleCount(texts.cycles);
    engine::checkRunEnd(texts.stopTime.has_value(), texts.cycles.has_value());
    run.chartFrom = engine::chartTime("--chart-from", texts.chartFrom, !options.chartFile.empty(), "--chart FILE.svg");
    run.chartTo = engine::chartTime("--chart-to", texts.chartTo, !options.chartFile.empty(), "--chart FILE.svg");
    engine::runBedsNeedChart(texts.beds.has_value(), !options.chartFile.empty(), "--beds", "--chart FILE.svg");
    if (texts.beds) {
        run.beds = engine::bedCount(*texts.beds);
    }
    checkChartName(options.chartFile);
    run.timeline = engine::runTimelineFormat(texts.format, options.outputFile, run.table);
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char **argv, Options &options) {
    CLI::App app{"Loads the su55if library and drives it offline, as a simulator would: checks a cycle "
                 "file or steps time through its cycle, with timed inputs and events, and reports what the "
                 "library computes.",
                 "su55if-host"};
    // Options begin with '-' on every system: a '/' begins a path, also on Windows.
    app.allow_windows_style_options(false);
    app.get_formatter()->column_width(28);
    app.get_formatter()->label("Subcommands", "Commands");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.add_flag("--version", options.version,
                 "print the version of su55if-host and of the library it loads, and exit");
    addCommonOptions(app, options);
    app.require_subcommand(0, 1);

    CheckTexts checkTexts;
    RunTexts runTexts;
    CLI::App *checkCommand = addCheckCommand(app, options, checkTexts);
    CLI::App *runCommand = addRunCommand(app, options, runTexts);
    CLI::App *writeCommand = addWriteCycleCommand(app, options);
    CLI::App *helpCommandApp = app.add_subcommand("help", "describe the commands, or the options of one command");
    std::string helpTopic;
    helpCommandApp->add_option("COMMAND", helpTopic, "check or run")->type_name("COMMAND");

    for (CLI::App *command : {checkCommand, runCommand, writeCommand, helpCommandApp}) {
        command->group("Commands");
    }
    for (CLI::App *command : {checkCommand, runCommand, writeCommand}) {
        addCommonOptions(*command, options);
        command->footer("`su55if-host --help` gives the exit codes and where the manual is.");
    }
    // Set after the commands are made: they would take it as their own.
    app.footer("With no command, runs the built-in example (examples/four-stage.csv) and prints a readable "
               "timeline.\nData goes to standard output, every message to standard error.\nExit codes: 0 done "
               "(also when the reader of standard output closed it early); 1 the library stopped the run "
               "(status 4); 2 bad usage, bad cycle or input file, library not loadable, a run that cannot be "
               "made, or an output that cannot be written; 3 the library ended the process during a call."
               "\nManual: man su55if-host, and docs/host.md in the documentation (share/doc/su55if/ under the "
               "install prefix, or the sources).");

    try {
        parse(app, argc, argv, checkCommand, runCommand, options);
    } catch (const HelpShown &shown) {
        return shown.exitCode;
    }
    if (helpCommandApp->parsed()) {
        return showHelp(app, helpTopic);
    }
    options.command = checkCommand->parsed()   ? Command::check
                      : runCommand->parsed()   ? Command::run
                      : writeCommand->parsed() ? Command::writeCycle
                                               : Command::example;
    options.check.json = engine::checkWritesJson(checkTexts.format);
    options.check.timeUnit = options.run.timeUnit;  // one --time-unit for either command
    if (options.command == Command::check) {
        checkBedsOptions(checkTexts.beds, options);
    }
    if (options.command == Command::run) {
        readRunOptions(options, runTexts);
    }
    return std::nullopt;
}

}  // namespace su55if::host
