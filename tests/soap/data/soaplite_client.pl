#!/usr/bin/perl
# An independent SOAP 1.1 client for the server tests: calls the server at $ARGV[0] and
# prints one line per call.
use strict;
use warnings;
use SOAP::Lite;
use Encode;

binmode STDOUT, ':encoding(UTF-8)';

my $soap = SOAP::Lite->uri('http://lumbrake.test/search/')->proxy($ARGV[0]);
sub show {
    my ($label, $r) = @_;
    if ($r->fault) {
        print "$label FAULT ", $r->faultcode, " ", $r->faultstring, "\n";
    } else {
        my @rest = $r->paramsout;
        print "$label ", join(',', map { ref $_ eq 'ARRAY' ? '[' . join(';', @$_) . ']' : $_ } ($r->result, @rest)), "\n";
    }
}
show('add', $soap->call('Add', SOAP::Data->name(a => 2)->type('int'), SOAP::Data->name(b => 40)->type('int')));
show('sum', $soap->call('Sum', SOAP::Data->name(list => [5, 6, 7])));
show('words', $soap->call('Words', SOAP::Data->name(text => Encode::encode('UTF-8', "gr\x{fc}n & <blau>"))));
show('fail', $soap->call('Fail'));
show('unknown', $soap->call('Nope'));
