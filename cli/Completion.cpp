#include "CliOptions.h"

// bash splits a word at '=', ':' and '@' (COMP_WORDBREAKS), so --format=hex
// comes as three words and so do a slot, 1000:2000, and a file named a:b;
// the script puts them together again, and offers what completes the whole
// word as bash wants it: the part after its last break. Files are offered
// where a pair's file goes (after its address) and for the options that name
// files.
QString bashCompletion()
{
    // Each option as "COMMAND:NAME" (the merge's command is empty), so that
    // one case tells what a word is after any command.
    QStringList valued;
    QString values;
    QString lists; // the option names each command offers
    QStringList words;
    for (const CliCommand &command : cliCommands()) {
        QStringList all;
        for (const CliOption &option : cliOptionTable()) {
            if (!(option.commands & CliCommand::bit(command.command)))
                continue;
            const QStringList names = dashedNames(option);
            all << names;
            if (option.valueName.isEmpty())
                continue;
            QStringList keyed;
            for (const QString &name : names)
                keyed << command.word + QLatin1Char(':') + name;
            valued << keyed;
            const QString pattern = keyed.join(QLatin1Char('|'));
            switch (option.completion.kind) {
            case CliCompletion::Nothing:
                break;
            case CliCompletion::FileName:
                values += QStringLiteral("        %1) _MergeFileCli_files \"$cur\" ;;\n").arg(pattern);
                break;
            case CliCompletion::Word: {
                const QStringList offered = option.completion.words();
                bool goesOn = false;
                for (const QString &word : offered)
                    goesOn = goesOn || word.endsWith(QLatin1Char('@'));
                values += QStringLiteral("        %1) _MergeFileCli_words \"%2\" \"$cur\" %3 ;;\n")
                              .arg(pattern, offered.join(QLatin1Char(' ')),
                                   goesOn ? QStringLiteral("on") : QStringLiteral("end"));
                break;
            }
            }
        }
        // The merge's, the default, goes last.
        const QString list = QStringLiteral("        %1) options=\"%2\" ;;\n")
                                 .arg(command.word.isEmpty() ? QStringLiteral("*") : command.word, all.join(QLatin1Char(' ')));
        lists = command.word.isEmpty() ? lists + list : list + lists;
        if (!command.word.isEmpty())
            words << command.word;
    }

    QString script = QStringLiteral(
        "# bash completion for MergeFileCli, made from its option table when it was built.\n"
        "\n"
        "_MergeFileCli_files()\n"
        "{\n"
        "    compopt -o filenames 2>/dev/null\n"
        "    local IFS=$'\\n'\n"
        "    COMPREPLY=($(compgen -f -- \"$1\"))\n"
        "}\n"
        "\n"
        "_MergeFileCli_words() # WORDS CURRENT on|end: on, the user goes on typing after the word\n"
        "{\n"
        "    [ \"$3\" = on ] && compopt -o nospace 2>/dev/null\n"
        "    COMPREPLY=($(compgen -W \"$1\" -- \"$2\"))\n"
        "}\n"
        "\n"
        "_MergeFileCli_place() # WORD PREFIX: the offers for WORD's text after PREFIX, as bash puts them\n"
        "{\n"
        "    # bash replaces only the part of the word after its last break.\n"
        "    local typed=$1 c i\n"
        "    for c in = : @; do\n"
        "        [[ $COMP_WORDBREAKS == *\"$c\"* ]] && typed=${typed##*\"$c\"}\n"
        "    done\n"
        "    local cut=$((${#1} - ${#typed}))\n"
        "    for i in \"${!COMPREPLY[@]}\"; do\n"
        "        COMPREPLY[i]=$2${COMPREPLY[i]}\n"
        "        COMPREPLY[i]=${COMPREPLY[i]:cut}\n"
        "        [ -n \"${COMPREPLY[i]}\" ] || unset 'COMPREPLY[i]'\n"
        "    done\n"
        "}\n"
        "\n"
        "_MergeFileCli()\n"
        "{\n"
        "    # The words as typed: bash splits them at '=', ':' and '@' (COMP_WORDBREAKS),\n"
        "    # so --format=hex, a slot 1000:2000, a field crc32@8000 and a file named\n"
        "    # a:b come in pieces; a piece of nothing but those joins its neighbours.\n"
        "    local words=() n=0 i piece glue=0\n"
        "    for ((i = 1; i <= COMP_CWORD; i++)); do\n"
        "        piece=${COMP_WORDS[i]}\n"
        "        if [ \"$n\" -gt 0 ] && [ -n \"$piece\" ] && [ -z \"${piece//[=:@]/}\" ]; then\n"
        "            words[n - 1]+=$piece\n"
        "            glue=1\n"
        "        elif [ \"$glue\" = 1 ]; then\n"
        "            words[n - 1]+=$piece\n"
        "            glue=0\n"
        "        else\n"
        "            words[n]=$piece\n"
        "            n=$((n + 1))\n"
        "        fi\n"
        "    done\n"
        "    local cur=${words[n - 1]} word option= value=0 pairs=0 rest=0 prefix= command= first=0 options\n"
        "    COMPREPLY=()\n"
        "    # A command given first: the options and files are its own.\n"
        "    case ${words[0]} in\n"
        "        %4) [ \"$n\" -gt 1 ] && command=${words[0]} first=1 ;;\n"
        "    esac\n"
        "    case $command in\n"
        "%5"
        "    esac\n"
        "    # What the words before the current one were: an option that takes a\n"
        "    # value, its value, or a word of the ADDR FILE pairs.\n"
        "    for ((i = first; i < n - 1; i++)); do\n"
        "        word=${words[i]}\n"
        "        if [ \"$value\" = 1 ]; then\n"
        "            value=0\n"
        "        elif [ \"$rest\" = 0 ] && [ \"$word\" = \"--\" ]; then\n"
        "            rest=1\n"
        "        elif [ \"$rest\" = 0 ] && [ \"${word#-}\" != \"$word\" ] && [ \"$word\" != \"-\" ]; then\n"
        "            case $command:${word%%=*} in\n"
        "                %1) [ \"${word#*=}\" = \"$word\" ] && value=1; option=$word ;;\n"
        "            esac\n"
        "        else\n"
        "            pairs=$((pairs + 1))\n"
        "        fi\n"
        "    done\n"
        "    if [ \"$value\" = 0 ] && [ \"$rest\" = 0 ] && [[ $cur == --*=* ]]; then\n"
        "        option=${cur%%=*}\n"
        "        prefix=$option=\n"
        "        cur=${cur#*=}\n"
        "        value=1\n"
        "    fi\n"
        "    if [ \"$value\" = 1 ]; then\n"
        "        case $command:${option%%=*} in\n"
        "%2"
        "        esac\n"
        "    elif [ \"$rest\" = 0 ] && [ \"${cur#-}\" != \"$cur\" ]; then\n"
        "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
        "    elif [ -n \"$command\" ] || [ $((pairs % 2)) = 1 ]; then\n"
        "        _MergeFileCli_files \"$cur\" # a command's file, or the file after its address\n"
        "    elif [ \"$n\" = 1 ]; then\n"
        "        COMPREPLY=($(compgen -W \"%3\" -- \"$cur\")) # a command, if not a merge's address\n"
        "    fi\n"
        "    _MergeFileCli_place \"$prefix$cur\" \"$prefix\"\n"
        "}\n"
        "complete -F _MergeFileCli MergeFileCli\n");
    return script.arg(valued.join(QLatin1Char('|')), values, words.join(QLatin1Char(' ')), words.join(QLatin1Char('|')),
                      lists);
}
