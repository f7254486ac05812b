# Prints the shape of chosen classes from an abidw XML file, one fact a line: size, bases,
# data members with their offsets (in bits), static members and virtual functions with their
# vtable slots. Run as: awk -v classes="A B" -f abi-summary.awk file.abi file.abi
# (the file twice: the first pass maps type ids to class names for the base classes).
# The output is meant to be sorted; offsets, not line order, carry the member order.

function attr(key,    pattern) {
    pattern = key "='[^']*'"
    if (match($0, pattern)) {
        return substr($0, RSTART + length(key) + 2, RLENGTH - length(key) - 3)
    }
    return ""
}

BEGIN {
    count = split(classes, list, " ")
    for (i = 1; i <= count; i++) {
        wanted[list[i]] = 1
    }
}

# First pass: every class id and its name.
FNR == NR {
    if ($0 ~ /<class-decl /) {
        names[attr("id")] = attr("name")
    }
    next
}

# Second pass: the first full definition of each wanted class (abidw repeats a class once
# for each translation unit that defines it).
current == "" && /<class-decl / && !/is-declaration-only='yes'/ && !/\/>[ \t]*$/ {
    name = attr("name")
    if ((name in wanted) && !(name in done)) {
        current = name
        depth = 0
        print current, "size", attr("size-in-bits")
    }
    next
}

current == "" { next }

/<class-decl / && !/\/>[ \t]*$/ { depth++; next }
/<\/class-decl>/ {
    if (depth == 0) {
        done[current] = 1
        current = ""
    } else {
        depth--
    }
    next
}
depth > 0 { next }

/<base-class / {
    print current, "base", names[attr("type-id")], attr("access"),
          "offset", attr("layout-offset-in-bits"),
          (attr("is-virtual") == "yes" ? "virtual" : "non-virtual")
    next
}
/<data-member / {
    memberStatic = attr("static") == "yes"
    memberOffset = attr("layout-offset-in-bits")
    next
}
/<var-decl / {
    if (memberStatic) {
        print current, "static", attr("name")
    } else {
        print current, "member", attr("name"), "offset", memberOffset
    }
    next
}
/<member-function / {
    slot = attr("vtable-offset")
    isDestructor = attr("destructor") == "yes"
    next
}
/<function-decl / {
    if (slot != "") {
        # abidw gives destructors no slot number; the Itanium ABI puts the pair where the
        # destructor is declared among the virtual functions.
        if (isDestructor) {
            print current, "virtual", "destructor"
        } else {
            print current, "virtual", slot, attr("name")
        }
    }
    slot = ""
    next
}
