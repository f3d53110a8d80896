// replaced by the real stand-in
