#!/bin/sh
# Writes the bash completion of kelvane from the options its --help lists,
# so that an option added to the program is completed without editing this.
#
#   make-completion.sh KELVANE-BINARY > kelvane
#
# An option's value is completed by the word --help names it with: DIR a
# folder, FILE a file, EXT an output format, COLOUR a colour name; any other
# (N) is left to the user.
set -eu
help=$("$1" --help)
# "  --name VALUE  text" and "  -h, --help  text" lines.
options=$(printf '%s\n' "$help" | sed -n 's/^  \(-[a-z], \)\{0,1\}\(--[a-z][a-z-]*\).*/\2/p')
short=$(printf '%s\n' "$help" | sed -n 's/^  \(-[a-z]\), --.*/\1/p')
with_value() {
  printf '%s\n' "$help" | sed -n "s/^  \(--[a-z][a-z-]*\) $1 .*/\1/p" | paste -sd '|' -
}
dirs=$(with_value DIR)
files=$(with_value FILE)
formats=$(with_value EXT)
colours=$(with_value COLOUR)
others=$(printf '%s\n' "$help" | sed -n 's/^  \(--[a-z][a-z-]*\) \([A-Z][A-Z]*\) .*/\2 \1/p' |
         grep -v '^\(DIR\|FILE\|EXT\|COLOUR\) ' | cut -d' ' -f2 | paste -sd '|' -)
if [ -z "$options" ] || [ -z "$dirs" ] || [ -z "$files" ]; then
  echo "make-completion.sh: no options found in the output of $1 --help" >&2
  exit 1
fi
arm() {
  [ -n "$1" ] && printf '    %s)\n      %s\n      return ;;\n' "$1" "$2"
  return 0
}
cat <<END
# bash completion for kelvane, written from its --help                -*- shell-script -*-

_kelvane() {
  local cur prev words cword
  _init_completion || return

  case \$prev in
$(arm "$dirs" '_filedir -d')
$(arm "$files" '_filedir')
$(arm "$formats" 'COMPREPLY=($(compgen -W "png tif tiff webp avif heic jxl jpg jpeg" -- "$cur"))')
$(arm "$colours" 'COMPREPLY=($(compgen -W "white black" -- "$cur"))')
$(arm "$others" ':')
  esac

  if [[ \$cur == -* ]]; then
    COMPREPLY=(\$(compgen -W "$(printf '%s ' $options $short)" -- "\$cur"))
    return
  fi
  # Pictures and results are told by content or chosen by name: any file.
  _filedir
} &&
  complete -F _kelvane kelvane
END
