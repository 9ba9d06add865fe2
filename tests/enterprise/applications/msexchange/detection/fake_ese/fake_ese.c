// Stands in for the Exchange database engine library: only its version resource (fake_ese.rc) matters.
