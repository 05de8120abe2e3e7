#include "CliOptions.h"

// bash splits a word at '=' and ':' (COMP_WORDBREAKS), so --format=hex comes
// as three words and so does a slot, 1000:2000; the script counts them as
// one. Files are offered where a pair's file goes (after its address) and
// for the options that name files.
QString bashCompletion()
{
    QStringList all;
    QStringList valued;
    QString values;
    for (const CliOption &option : cliOptionTable()) {
        const QStringList names = dashedNames(option);
        all << names;
        if (option.valueName.isEmpty())
            continue;
        valued << names;
        const QString pattern = names.join(QLatin1Char('|'));
        switch (option.completion.kind) {
        case CliCompletion::Nothing:
            break;
        case CliCompletion::FileName:
            values += QStringLiteral("        %1) _MergeFileCli_files \"$cur\" ;;\n").arg(pattern);
            break;
        case CliCompletion::Word: {
            const QStringList words = option.completion.words();
            bool goesOn = false;
            for (const QString &word : words)
                goesOn = goesOn || word.endsWith(QLatin1Char('@'));
            values += QStringLiteral("        %1) _MergeFileCli_words \"%2\" \"$cur\" %3 ;;\n")
                          .arg(pattern, words.join(QLatin1Char(' ')), goesOn ? QStringLiteral("on") : QStringLiteral("end"));
            break;
        }
        }
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
        "_MergeFileCli()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} word option= value=0 pairs=0 rest=0 i=1\n"
        "    COMPREPLY=()\n"
        "    # What the words before the current one were: an option that takes a\n"
        "    # value, its value, or a word of the ADDR FILE pairs.\n"
        "    while [ \"$i\" -lt \"$COMP_CWORD\" ]; do\n"
        "        word=${COMP_WORDS[i]}\n"
        "        if [ \"$value\" = 1 ]; then\n"
        "            [ \"$word\" = \"=\" ] || value=0\n"
        "        elif [ \"$word\" = \":\" ] || [ \"${COMP_WORDS[i - 1]}\" = \":\" ]; then\n"
        "            : # the slot of ADDR:SIZE\n"
        "        elif [ \"$rest\" = 0 ] && [ \"$word\" = \"--\" ]; then\n"
        "            rest=1\n"
        "        elif [ \"$rest\" = 0 ] && [ \"${word#-}\" != \"$word\" ] && [ \"$word\" != \"-\" ]; then\n"
        "            case $word in\n"
        "                %1) value=1; option=$word ;;\n"
        "            esac\n"
        "        else\n"
        "            pairs=$((pairs + 1))\n"
        "        fi\n"
        "        i=$((i + 1))\n"
        "    done\n"
        "    if [ \"$value\" = 1 ]; then\n"
        "        [ \"$cur\" = \"=\" ] && cur=\n"
        "        case $option in\n"
        "%2"
        "        esac\n"
        "    elif [ \"$cur\" = \":\" ] || [ \"${COMP_WORDS[COMP_CWORD - 1]}\" = \":\" ]; then\n"
        "        : # a slot's size\n"
        "    elif [ \"$rest\" = 0 ] && [ \"${cur#-}\" != \"$cur\" ]; then\n"
        "        COMPREPLY=($(compgen -W \"%3\" -- \"$cur\"))\n"
        "    elif [ $((pairs % 2)) = 1 ]; then\n"
        "        _MergeFileCli_files \"$cur\" # the file after its address\n"
        "    fi\n"
        "}\n"
        "complete -F _MergeFileCli MergeFileCli\n");
    return script.arg(valued.join(QLatin1Char('|')), values, all.join(QLatin1Char(' ')));
}
