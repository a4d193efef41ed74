# SPDX-License-Identifier: GPL-3.0-or-later
# Bash completion for vellomar-render. The options, and the values an option
# takes from a fixed list, are read from the program's own --help (the
# program being completed, so a build's program completes its own options),
# so the completion never falls behind the program. Other values complete
# as file names.

# Prints one line per option of `--help`: the option, then its fixed values
# separated by blanks, "=" for a file name, "#" for another value of its own
# (a number, a size), or nothing for a flag.
_vellomar_render_options() {
  local line option rest word values
  while IFS= read -r line; do
    # An option line: indented a little (a description's wrapped lines are
    # indented far more, and may start with an option's name too), an
    # optional short form, the long form.
    [[ $line =~ ^\ {1,6}(-[[:alnum:]],)?(--[[:alnum:]][[:alnum:]-]*)(.*)$ ]] || continue
    option="${BASH_REMATCH[2]}"
    rest="${BASH_REMATCH[3]}"
    word=""
    # The value's placeholder follows after one blank: TEXT:{a,b}, {a,b},
    # a|b, FILE, HZ ... A description starts after two or more blanks.
    [[ $rest =~ ^[\ =]([^[:space:]]+) ]] && word="${BASH_REMATCH[1]}"
    values=""
    if [[ $word =~ \{([^}]*)\} ]]; then
      values="${BASH_REMATCH[1]//,/ }"
    elif [[ $word == *"|"* ]]; then
      values="${word//|/ }"
    elif [[ $word == TEXT || $word == *FILE* || $word == *PATH* ]]; then
      values="="
    elif [[ -n $word && $word != Excludes: && $word != Needs: ]]; then
      values="#"
    fi
    printf '%s %s\n' "$option" "$values"
  done < <("$1" --help 2>/dev/null)
}

_vellomar_render() {
  local cur="${COMP_WORDS[COMP_CWORD]}"
  local prev=""
  ((COMP_CWORD > 0)) && prev="${COMP_WORDS[COMP_CWORD - 1]}"
  local table option values
  table="$(_vellomar_render_options "${COMP_WORDS[0]}")"
  COMPREPLY=()

  # The value of the option before the cursor.
  if [[ $prev == --* ]]; then
    while read -r option values; do
      [[ $option == "$prev" ]] || continue
      if [[ $values == "=" ]]; then
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return 0
      elif [[ $values == "#" ]]; then
        return 0
      elif [[ -n $values ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$values" -- "$cur")
        return 0
      fi
    done <<<"$table"
  fi

  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(cut -d ' ' -f 1 <<<"$table")" -- "$cur")
    return 0
  fi
  # The picture, the wave and the output are files.
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  return 0
}

complete -F _vellomar_render vellomar-render
