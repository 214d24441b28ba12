// The console's core builds without SDL: only the platform seam and the text screens may call it.
#error "SDL included by a source of the console's core"
