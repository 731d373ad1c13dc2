# Benchmark workloads, the Tcl side: tclsh8.6 bench/workloads.tcl WORKLOAD N
# (the same workloads as workloads.ztscr and workloads.lua).

proc loop {n} {
    set sum 0.0
    set i 1
    while {$i <= $n} {
        set sum [expr {$sum + $i}]
        incr i
    }
    return $sum
}

proc fib {n} {
    if {$n < 2} { return $n }
    return [expr {[fib [expr {$n - 1}]] + [fib [expr {$n - 2}]]}]
}

proc strings {n} {
    set total 0
    set i 1
    while {$i <= $n} {
        incr total [string length "item$i"]
        incr i
    }
    return $total
}

proc map {n} {
    set i 1
    while {$i <= $n} {
        set m($i) $i
        incr i
    }
    set sum 0.0
    set i 1
    while {$i <= $n} {
        set sum [expr {$sum + $m($i)}]
        incr i
    }
    return $sum
}

lassign $argv workload n
if {$workload ni {loop fib strings map}} {
    puts stderr "usage: tclsh8.6 workloads.tcl loop|fib|strings|map N"
    exit 2
}
puts [format %.0f [$workload $n]]
